// tessarin predict INPUT -o OUTPUT: EI spectra of a SMILES or SDF file into a
// spectral library, molecules that fail into OUTPUT.errors.tsv.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "batch/input.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/writers.h"
#include "commands.h"
#include "common.h"
#include "scheduler.h"
#include "progress.h"

namespace tessarin::cli {
namespace {

struct PredictArguments {
  std::string input;
  std::string output;
  batch::OutputFormat format = batch::OutputFormat::msp;
  unsigned jobs = 0;  // 0: one per core
  batch::PredictOptions predict;
};

CLI::Validator output_format_name() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return batch::output_format_named(text) ? std::string() : "must be msp, jsonl or csv, got '" + text + "'";
      },
      "", "output format");
}

std::optional<std::size_t> count_molecules(const std::string& path, batch::InputFormat format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  batch::MoleculeReader reader(in, format);
  batch::MoleculeInput m;
  std::size_t n = 0;
  try {
    while (reader.next(m)) ++n;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return n;
}

int run_predict(const PredictArguments& args) {
  const std::string& input_path = args.input;
  const std::string& output_path = args.output;
  if (input_path != "-" && output_path != "-" &&
      (same_file(input_path, output_path) || same_file(input_path, batch::errors_path_of(output_path)))) {
    throw UsageError("the output would overwrite the input " + input_path);
  }

  // Input.
  std::ifstream file;
  std::istream* in = &std::cin;
  std::deque<std::string> lookahead;
  batch::InputFormat input_format = batch::InputFormat::smiles;
  if (input_path == "-") {
    input_format = batch::MoleculeReader::sniff_format(std::cin, lookahead);
  } else {
    file.open(input_path, std::ios::binary);
    if (!file) {
      throw UsageError("cannot open " + input_path + ": " + std::strerror(errno));
    }
    in = &file;
    input_format = batch::input_format_of_path(input_path);
  }
  batch::MoleculeReader reader(*in, input_format, std::move(lookahead));

  std::optional<batch::LibraryFiles> files;
  try {
    files.emplace(output_path, args.format);
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  std::optional<std::size_t> total;
  if (show_progress && input_path != "-" && is_regular_file(input_path)) total = count_molecules(input_path, input_format);
  ProgressBar bar(stderr, total);

  install_stop_handler();
  batch::LibraryRequest request;
  request.options = args.predict;
  request.jobs = args.jobs;
  request.read = [&reader](batch::MoleculeInput& m) { return reader.next(m); };
  request.files = &*files;
  if (show_progress) request.progress = [&bar](const batch::BatchProgress& p) { bar.update(p); };
  request.cancel = &stop_requested();

  batch::BatchSummary summary;
  try {
    summary = batch::predict_library(request);
  } catch (const std::exception& e) {
    bar.finish();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitUsage;
  }
  bar.finish();

  const std::size_t ok = summary.written - summary.failed;
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted; " << ok << " spectra written to " << output_path;
    if (summary.failed) std::cerr << ", " << summary.failed << " failures to " << files->errors_path();
    std::cerr << '\n';
    std::fflush(stdout);
    std::cerr.flush();
    // The reader may still be blocked reading standard input: leave at once.
    std::_Exit(stop_exit_status());
  }
  if (summary.failed > 0) {
    std::cerr << "tessarin: " << summary.failed << " of " << summary.written << " molecules failed";
    if (!files->errors_path().empty()) std::cerr << " (see " << files->errors_path() << ")";
    std::cerr << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

Command add_predict_command(CLI::App& program) {
  auto args = std::make_shared<PredictArguments>();
  CLI::App* command =
      add_command(program, "predict", "Predict the EI spectra of a SMILES or SDF file into a spectral library.");
  command->add_option("INPUT", args->input, "SMILES or SDF file; - reads standard input")->required();
  command->add_option("-o,--output", args->output, "spectral library file to write")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->required();
  command
      ->add_option_function<std::string>(
          "--format", [args](const std::string& name) { args->format = *batch::output_format_named(name); },
          "msp, jsonl or csv")
      ->type_name("FORMAT")
      ->check(output_format_name())
      ->default_str("msp");
  command->add_option("-j,--jobs", args->jobs, "worker threads")
      ->type_name("N")
      ->check(whole_number(1, 1024))
      ->default_str("all cores");
  command
      ->add_option("--timeout-per-molecule", args->predict.time_limit_seconds,
                   "seconds per molecule, checked between analysis steps; 0: no limit")
      ->type_name("S")
      ->check(finite_number(0.0))
      ->capture_default_str();
  add_model_option(*command, args->predict.model);
  add_prediction_options(*command, args->predict.analysis);
  add_scheduler_options(*command, true);
  command->footer(
      "Molecules that fail go to OUTPUT.errors.tsv with their reason, and the run goes on. A progress line is\n"
      "shown when standard error is a terminal. Ctrl-C stops the run, leaving every molecule finished so far\n"
      "as a valid file; a second Ctrl-C quits at once.\n"
      "exit status: 0 all molecules predicted, 1 some failed, 2 usage or file error, 130 interrupted");
  return {command, [args] { return run_predict(*args); }};
}

}  // namespace tessarin::cli
