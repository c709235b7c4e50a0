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

#include "batch/job.h"
#include "batch/library.h"
#include "batch/writers.h"
#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "progress.h"
#include "run/input.h"
#include "run/pipeline.h"
#include "run/worker_main.h"
#include "scheduler.h"

namespace tessarin::cli {
namespace {

struct PredictArguments {
  batch::LibraryJob job;
  bool format_given = false;  // else the output's extension decides, else msp
  SchedulerOptions scheduler;
};

CLI::Validator output_format_name() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return batch::output_format_named(text) ? std::string() : "must be msp, jsonl, csv or mgf, got '" + text + "'";
      },
      "", "output format");
}

// "FIRST-LAST" or "FIRST-": 1-based input lines.
std::optional<run::LineRange> line_range_of(const std::string& text) {
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
      rest.empty() ? std::optional<std::size_t>(run::LineRange{}.last) : number(rest);
  if (!first || !last || *first == 0 || *last < *first) return std::nullopt;
  return run::LineRange{*first, *last};
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

std::optional<std::size_t> count_molecules(const std::string& path, const std::optional<run::LineRange>& lines) {
  try {
    run::MoleculeFile input(path);
    run::MoleculeReader& reader = input.reader();
    if (lines) reader.set_line_range(*lines);
    run::MoleculeInput m;
    std::size_t n = 0;
    while (reader.next(m)) ++n;
    return n;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// "tessarin: 2 of 22 molecules failed (see OUTPUT.errors.tsv)".
void report_failures(std::size_t failed, std::size_t total, const std::string& errors_path) {
  std::cerr << "tessarin: " << failed << " of " << total << " molecules failed";
  if (!errors_path.empty()) std::cerr << " (see " << errors_path << ")";
  std::cerr << '\n';
}

// The job handed to the Dask driver, which splits the input into chunks on
// the cluster's workers and merges their shards into the output.
int run_predict_on_cluster(const batch::LibraryJob& job) {
  install_stop_handler();
  const DriverReply driver = run_on_scheduler({{"request", "predict"}, {"job", job.to_json()}});
  if (stop_requested().load()) {
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); the finished chunks stay in "
              << (job.cluster->work_dir.empty() ? batch::default_work_dir(job.output) : job.cluster->work_dir)
              << " for a rerun\n";
    return stop_exit_status();
  }
  if (!driver.reply) return driver.status == kExitOk ? kExitUsage : driver.status;
  try {
    const nlohmann::json& reply = *driver.reply;
    const std::size_t written = reply.at("written").get<std::size_t>();
    const std::size_t failed = reply.at("failed").get<std::size_t>();
    if (failed == 0) return kExitOk;
    report_failures(failed, written + failed,
                    reply.at("errors").is_string() ? reply.at("errors").get<std::string>() : "");
    return kExitFailed;
  } catch (const nlohmann::json::exception&) {
    std::cerr << "tessarin: the Dask driver's reply lacks the run's summary\n";
    return kExitUsage;
  }
}

int run_predict(PredictArguments& args) {
  batch::LibraryJob& job = args.job;
  if (!args.format_given) job.format = batch::output_format_of_path(job.output).value_or(batch::OutputFormat::msp);
  if (!args.scheduler.address.empty()) {
    job.cluster = batch::ClusterRun{args.scheduler.address, args.scheduler.chunk_size, args.scheduler.work_dir};
  }
  try {
    job.check();
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  if (job.cluster) return run_predict_on_cluster(job);

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  std::optional<ProgressBar> bar;
  batch::JobHooks hooks;
  if (show_progress) hooks.progress = [&bar](const run::BatchProgress& p) { bar->update(p); };
  hooks.cancel = &stop_requested();
  hooks.workers = run::WorkerCommand{"/proc/self/exe", {std::string(run::kWorkerArgument)}};
  // Caught from before the output is made, so that a stop never leaves a
  // file begun by a run that then died of the signal.
  install_stop_handler();
  std::optional<batch::LibraryJobRun> run;
  try {
    run.emplace(job, std::move(hooks));
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }
  const batch::LibraryFiles& files = *run->files();

  std::optional<std::size_t> total;
  if (show_progress && job.input != "-" && is_regular_file(job.input)) {
    total = count_molecules(job.input, job.lines);
    if (total) *total -= std::min(*total, run->resumed());
  }
  bar.emplace(stderr, total);

  run::BatchSummary summary;
  try {
    summary = run->run();
  } catch (const std::exception& e) {
    bar->finish();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitUsage;
  }
  bar->finish();

  const std::size_t ok = summary.written - summary.failed;
  const std::string resumed =
      run->resumed() > 0 ? " (after the " + std::to_string(run->resumed()) + " molecules already there)" : "";
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); " << ok << " spectra written to " << job.output
              << resumed;
    if (summary.failed) std::cerr << ", " << summary.failed << " failures to " << files.errors_path();
    std::cerr << '\n';
    std::fflush(stdout);
    std::cerr.flush();
    // The reader may still be blocked reading standard input: leave at once.
    std::_Exit(stop_exit_status());
  }
  if (summary.failed > 0) {
    report_failures(summary.failed, summary.written, files.errors_path());
    return kExitFailed;
  }
  if (summary.written == 0 && run->resumed() == 0 && !job.lines) {  // an empty library written: say why
    std::cerr << "tessarin: nothing to predict: " << (job.input == "-" ? std::string("standard input") : job.input)
              << " holds no molecule\n";
    return kExitUsage;
  }
  if (files.has_errors()) {  // a resumed run whose earlier part had failures: the same status as one whole run
    std::cerr << "tessarin: molecules of the earlier part of the run failed (see " << files.errors_path() << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

Command add_predict_command(CLI::App& program) {
  auto args = std::make_shared<PredictArguments>();
  CLI::App* command = add_command(program, "predict",
                                  "Predict the EI spectra of a SMILES, SDF or CSV/TSV file into a spectral library.");
  command->add_option("INPUT", args->job.input, "SMILES, SDF or CSV/TSV file, plain or .gz; - reads standard input")
      ->required();
  command->add_option("-o,--output", args->job.output, "spectral library file to write")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->required();
  command
      ->add_option_function<std::string>(
          "--format",
          [args](const std::string& name) {
            args->job.format = *batch::output_format_named(name);
            args->format_given = true;
          },
          "msp, jsonl, csv or mgf; when not given, the one OUTPUT's extension names (.msp, .jsonl, .csv, .mgf), "
          "else msp")
      ->type_name("FORMAT")
      ->check(output_format_name())
      ->default_str("by extension");
  add_jobs_option(*command, args->job.jobs, "worker processes");
  add_time_limit_option(*command, args->job.predict.time_limit_seconds,
                        "seconds per molecule, whatever the step; 0: no limit");
  add_model_option(*command, args->job.predict.model);
  command
      ->add_option_function<std::string>(
          "--lines", [args](const std::string& text) { args->job.lines = line_range_of(text); },
          "only the molecules that start on these input lines")
      ->type_name("FIRST-LAST")
      ->check(line_range())
      ->default_str("all");
  command->add_flag("--resume", args->job.resume,
                    "go on with an OUTPUT that a stopped run left, skipping the molecules it holds");
  add_prediction_options(*command, args->job.predict.analysis);
  add_scheduler_options(*command, args->scheduler, true);
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
