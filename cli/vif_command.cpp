// tessarin vif SMILES: the VIF report of one molecule on standard output.
#include <iostream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <RDGeneral/RDLog.h>

#include "commands.h"
#include "common.h"

namespace tessarin::cli {
namespace {

// RDKit's error log, caught in a string while an object of this class
// lives. The program keeps RDKit's logs off otherwise, so this adds to the
// output only what the caller chooses to print.
class RdkitErrorLog {
 public:
  RdkitErrorLog() : saved_(rdErrorLog) { rdErrorLog = std::make_shared<boost::logging::rdLogger>(&text_); }
  ~RdkitErrorLog() { rdErrorLog = saved_; }
  RdkitErrorLog(const RdkitErrorLog&) = delete;
  RdkitErrorLog& operator=(const RdkitErrorLog&) = delete;

  // The lines logged so far, without RDKit's time stamps and blank lines.
  std::vector<std::string> lines() const {
    static const std::regex time_stamp(R"(^\[\d\d:\d\d:\d\d\] )");
    std::vector<std::string> out;
    std::istringstream in(text_.str());
    for (std::string line; std::getline(in, line);) {
      line = std::regex_replace(line, time_stamp, "", std::regex_constants::format_first_only);
      if (line.find_first_not_of(" \t\r") != std::string::npos) out.push_back(line);
    }
    return out;
  }

 private:
  std::ostringstream text_;
  RDLogger saved_;
};

struct VifArguments {
  std::string smiles;
  analysis::Options options;
};

int run_vif(const VifArguments& args) {
  std::optional<analysis::Result> result;
  std::vector<std::string> parse_errors;
  {
    const RdkitErrorLog log;
    result = analysis::analyse_smiles(args.smiles, args.options, {}, &std::cout);
    if (!result) parse_errors = log.lines();
  }
  std::cout.flush();
  if (!result) {
    std::cerr << analysis::kUnreadableSmiles << '\n';
    if (parse_errors.empty()) {
      // An empty SMILES parses without a word, to a molecule without atoms.
      std::cerr << (args.smiles.empty() ? "the SMILES is empty" : "the SMILES parser gave no reason") << '\n';
    }
    for (const std::string& line : parse_errors) std::cerr << line << '\n';
    return kExitFailed;
  }
  if (!std::cout) {
    std::cerr << "tessarin: cannot write the report to standard output\n";
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

Command add_vif_command(CLI::App& program) {
  auto args = std::make_shared<VifArguments>();
  CLI::App* command = add_command(program, "vif", "Print the VIF report of one molecule.");
  command->add_option("SMILES", args->smiles, "the molecule")->required();
  add_prediction_options(*command, args->options);
  command->add_option("--bond-kappa", args->options.bond_kappa, "weight of every bond edge of the orbital graph")
      ->type_name("K")
      ->check(finite_number())
      ->capture_default_str();
  command->footer("exit status: 0 report printed, 1 the SMILES does not parse or the analysis failed, 2 usage error");
  return {command, [args] { return run_vif(*args); }};
}

}  // namespace tessarin::cli
