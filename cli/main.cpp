// tessarin: the command-line program. VIF reports, batch prediction of EI
// spectra into spectral-library files, the validation run, predictions
// compared with measured spectra (identify, search, evaluate), and spectrum
// files converted between formats; one source file per subcommand
// (commands.h).
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <RDGeneral/Invariant.h>

#include "batch/prediction_worker.h"
#include "commands.h"
#include "common.h"
#include "molecule/prepare_molecule.h"
#include "run/worker_main.h"

namespace {

using namespace tessarin::cli;

// A usage error: the message, then the usage line of the subcommand it
// belongs to (the program's when there is none).
int report_usage_error(const CLI::App& program, const std::string& message) {
  const CLI::App* app = &program;
  while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
  std::cerr << "tessarin: " << message << '\n' << usage_line(*app);
  std::cerr << "Run '" << (app == &program ? std::string("tessarin") : "tessarin " + app->get_name())
            << " --help' for more.\n";
  return kExitUsage;
}

// -h or --help anywhere before "--" asks for help, whatever else is wrong with
// the arguments (CLI11 would check the values first): the help of the command
// named first, or of the program.
std::optional<std::string> requested_help(const CLI::App& program, const std::vector<Command>& commands,
                                          const std::vector<std::string>& args) {
  const auto options_end = std::find(args.begin(), args.end(), "--");
  if (std::none_of(args.begin(), options_end, [](const std::string& a) { return a == "-h" || a == "--help"; })) {
    return std::nullopt;
  }
  for (const Command& command : commands) {
    if (command.app->check_name(args.front())) return command.app->help(program.get_name());
  }
  // Help of a command there is none of: the unknown command is reported instead.
  if (!args.front().starts_with("-")) return std::nullopt;
  return program.help();
}

// The error in the first argument, which must be a command or an option of
// the program (CLI11 would only say that a command is missing).
std::optional<std::string> misplaced_first_word(const CLI::App& program, const std::vector<Command>& commands,
                                                const std::string& first) {
  if (first.starts_with("-")) {
    if (program.get_option_no_throw(first) == nullptr) return "The following argument was not expected: " + first;
  } else if (std::none_of(commands.begin(), commands.end(),
                          [&](const Command& c) { return c.app->check_name(first); })) {
    return "unknown command '" + first + "'";
  }
  return std::nullopt;
}

int run(const Command& command) {
  try {
    return command.run();
  } catch (const UsageError& e) {
    std::cout.flush();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitUsage;
  } catch (const Invar::Invariant& e) {
    std::cout.flush();
    std::cerr << "tessarin: RDKit rejected the input: " << e.what() << '\n';
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread reads molecules: RDKit's error log, captured per thread for the reasons of failures.
  tessarin::molecule::route_rdkit_errors();
  // `predict` runs its molecules in copies of this program started this way.
  if (argc >= 2 && argv[1] == tessarin::run::kWorkerArgument)
    return tessarin::batch::serve_prediction_worker(argc - 2, argv + 2);
  std::ios::sync_with_stdio(true);
  const auto program = make_program();
  const std::vector<Command> commands = {
      add_vif_command(*program),      add_predict_command(*program), add_validate_command(*program),
      add_identify_command(*program), add_search_command(*program),  add_evaluate_command(*program),
      add_convert_command(*program),  add_explain_command(*program),
  };
  if (argc < 2) {
    std::cerr << program->help();
    return kExitUsage;
  }

  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.front() == "help") {  // "tessarin help [COMMAND]": the same as --help
    args.erase(args.begin());
    args.emplace_back("--help");
  }
  if (const auto help = requested_help(*program, commands, args)) {
    std::cout << *help;
    return kExitOk;
  }
  if (const auto error = misplaced_first_word(*program, commands, args.front())) {
    return report_usage_error(*program, *error);
  }

  std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
  try {
    program->parse(args);
  } catch (const CLI::Success& e) {  // --version
    return program->exit(e);
  } catch (const CLI::ParseError& e) {
    return report_usage_error(*program, e.what());
  }
  for (const Command& command : commands) {
    if (command.app->parsed()) return run(command);
  }
  return report_usage_error(*program, "no command given");
}
