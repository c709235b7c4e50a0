// tessarin predict INPUT -o OUTPUT: EI spectra of a SMILES, SDF or CSV/TSV
// file (plain or gzip-compressed) into a spectral library, molecules that
// fail into OUTPUT.errors.tsv. The molecules are analysed in copies of this
// program (worker processes), so that a time limit holds whatever the step
// and a crash costs one molecule.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "batch/input.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/resume.h"
#include "batch/worker_main.h"
#include "batch/writers.h"
#include "commands.h"
#include "common.h"
#include "progress.h"
#include "scheduler.h"
#include "tessarin/version.h"

namespace tessarin::cli {
namespace {

struct PredictArguments {
  std::string input;
  std::string output;
  std::optional<batch::OutputFormat> format;  // when not given: the output's extension, else msp
  unsigned jobs = 0;                          // 0: one per core
  batch::PredictOptions predict;
  std::optional<batch::LineRange> lines;
  bool resume = false;
};

CLI::Validator output_format_name() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return batch::output_format_named(text) ? std::string() : "must be msp, jsonl, csv or mgf, got '" + text + "'";
      },
      "", "output format");
}

// "FIRST-LAST" or "FIRST-": 1-based input lines.
std::optional<batch::LineRange> line_range_of(const std::string& text) {
  const auto dash = text.find('-');
  if (dash == std::string::npos || dash == 0) return std::nullopt;
  auto number = [](const std::string& digits) -> std::optional<std::size_t> {
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    return static_cast<std::size_t>(std::stoull(digits));
  };
  const std::optional<std::size_t> first = number(text.substr(0, dash));
  const std::string rest = text.substr(dash + 1);
  const std::optional<std::size_t> last =
      rest.empty() ? std::optional<std::size_t>(batch::LineRange{}.last) : number(rest);
  if (!first || !last || *first == 0 || *last < *first) return std::nullopt;
  return batch::LineRange{*first, *last};
}

CLI::Validator line_range() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return line_range_of(text)
                   ? std::string()
                   : "needs FIRST-LAST or FIRST- (input lines from 1, FIRST <= LAST), got '" + text + "'";
      },
      "", "line range");
}

std::optional<std::size_t> count_molecules(const std::string& path, const std::optional<batch::LineRange>& lines) {
  try {
    batch::MoleculeFile input(path);
    batch::MoleculeReader& reader = input.reader();
    if (lines) reader.set_line_range(*lines);
    batch::MoleculeInput m;
    std::size_t n = 0;
    while (reader.next(m)) ++n;
    return n;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The format asked for, else the one the output's name declares, else MSP.
batch::OutputFormat output_format(const PredictArguments& args) {
  if (args.format) return *args.format;
  return batch::output_format_of_path(args.output).value_or(batch::OutputFormat::msp);
}

// What decides the output's contents, recorded beside it for --resume.
batch::RunDescription describe_run(const PredictArguments& args) {
  batch::RunDescription run;
  run.program = std::string("tessarin ") + kVersion;
  batch::describe_input_file(run, args.input);
  run.lines = args.lines;
  run.format = output_format(args);
  run.options = args.predict.analysis;
  run.model = args.predict.model;
  return run;
}

int run_predict(const PredictArguments& args) {
  const std::string& input_path = args.input;
  const std::string& output_path = args.output;
  if (input_path != "-" && output_path != "-" &&
      (same_file(input_path, output_path) || same_file(input_path, batch::errors_path_of(output_path)) ||
       same_file(input_path, batch::run_record_path_of(output_path)))) {
    throw UsageError("the output would overwrite the input " + input_path);
  }
  if (args.resume && output_path == "-") throw UsageError("--resume needs an output file, not standard output");

  std::optional<batch::MoleculeFile> input;
  try {
    input.emplace(input_path);
  } catch (const batch::UnusableInput& e) {
    throw UsageError(e.what());
  }
  batch::MoleculeReader& reader = input->reader();
  if (args.lines) reader.set_line_range(*args.lines);

  const batch::RunDescription run = describe_run(args);
  std::optional<batch::LibraryFiles> files;
  try {
    files.emplace(output_path, run.format, &run, args.resume);
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  std::optional<std::size_t> total;
  if (show_progress && input_path != "-" && is_regular_file(input_path)) {
    total = count_molecules(input_path, args.lines);
    if (total) *total -= std::min(*total, files->resumed());
  }
  ProgressBar bar(stderr, total);

  install_stop_handler();
  batch::LibraryRequest request;
  request.options = args.predict;
  request.jobs = args.jobs;
  request.read = [&reader](batch::MoleculeInput& m) { return reader.next(m); };
  request.files = &*files;
  if (show_progress) request.progress = [&bar](const batch::BatchProgress& p) { bar.update(p); };
  request.cancel = &stop_requested();
  request.workers = batch::WorkerCommand{"/proc/self/exe", {std::string(batch::kWorkerArgument)}};

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
  const std::string resumed =
      files->resumed() > 0 ? " (after the " + std::to_string(files->resumed()) + " molecules already there)" : "";
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); " << ok << " spectra written to " << output_path
              << resumed;
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
  if (files->has_errors()) {  // a resumed run whose earlier part had failures: the same status as one whole run
    std::cerr << "tessarin: molecules of the earlier part of the run failed (see " << files->errors_path() << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

Command add_predict_command(CLI::App& program) {
  auto args = std::make_shared<PredictArguments>();
  CLI::App* command = add_command(program, "predict",
                                  "Predict the EI spectra of a SMILES, SDF or CSV/TSV file into a spectral library.");
  command->add_option("INPUT", args->input, "SMILES, SDF or CSV/TSV file, plain or .gz; - reads standard input")
      ->required();
  command->add_option("-o,--output", args->output, "spectral library file to write")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->required();
  command
      ->add_option_function<std::string>(
          "--format", [args](const std::string& name) { args->format = *batch::output_format_named(name); },
          "msp, jsonl, csv or mgf; when not given, the one OUTPUT's extension names (.msp, .jsonl, .csv, .mgf), "
          "else msp")
      ->type_name("FORMAT")
      ->check(output_format_name())
      ->default_str("by extension");
  add_jobs_option(*command, args->jobs, "worker processes");
  add_time_limit_option(*command, args->predict.time_limit_seconds,
                        "seconds per molecule, whatever the step; 0: no limit");
  add_model_option(*command, args->predict.model);
  command
      ->add_option_function<std::string>(
          "--lines", [args](const std::string& text) { args->lines = line_range_of(text); },
          "only the molecules that start on these input lines")
      ->type_name("FIRST-LAST")
      ->check(line_range())
      ->default_str("all");
  command->add_flag("--resume", args->resume,
                    "go on with an OUTPUT that a stopped run left, skipping the molecules it holds");
  add_prediction_options(*command, args->predict.analysis);
  add_scheduler_options(*command, true);
  command->footer(
      "Molecules that fail go to OUTPUT.errors.tsv with their reason, and the run goes on; OUTPUT.run.json\n"
      "records what the output was made from, for --resume. A progress line is shown when standard error is\n"
      "a terminal. Ctrl-C, SIGTERM or SIGHUP stops the run, leaving every molecule finished so far as a valid\n"
      "file; a second one quits at once.\n"
      "exit status: 0 all molecules predicted, 1 some failed, 2 usage or file error, 128 + signal when stopped\n"
      "(130 Ctrl-C, 143 SIGTERM, 129 SIGHUP)");
  return {command, [args] { return run_predict(*args); }};
}

}  // namespace tessarin::cli
