// tessarin evaluate SPECTRA: the spectra of the structures of measured
// spectra predicted and measured against them, with the identification
// among isobaric candidates.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "identify/evaluate.h"
#include "identify/tables.h"
#include "progress.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct EvaluateArguments {
  std::vector<std::string> spectra;
  std::string output;  // "": no table
  identify::EvaluateOptions options;
};

int run_evaluate(EvaluateArguments& args) {
  for (const std::string& s : args.spectra) {
    if (!args.output.empty() && args.output != "-" && same_file(s, args.output)) {
      throw UsageError("the output would overwrite the spectra " + s);
    }
  }
  args.options.score = args.options.identification;
  install_stop_handler();
  std::unique_ptr<TableOutput> out;
  if (!args.output.empty()) out = std::make_unique<TableOutput>(args.output, identify::record_error_header());
  std::size_t refused = 0;
  const auto refuse = [&](const spectra::RecordError& e) {
    ++refused;
    if (out) {
      out->error(identify::record_error_row(e));
    } else {
      if (refused == 1) std::cerr << identify::record_error_header();
      std::cerr << identify::record_error_row(e);
    }
  };

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  ProgressBar bar(stderr, std::nullopt);
  args.options.run.cancel = &stop_requested();
  if (show_progress) args.options.run.progress = [&bar](const run::BatchProgress& p) { bar.update(p); };
  identify::Evaluation ev;
  try {
    ev = identify::evaluate_files(args.spectra, args.options, refuse);
  } catch (const InvalidInput& e) {
    bar.finish();
    throw UsageError(e.what());
  }
  bar.finish();

  if (ev.spectra.empty() && refused == 0 && !ev.cancelled) {
    if (out) out->close();
    throw UsageError("nothing to evaluate: the files hold no spectrum");
  }
  std::size_t without = 0;
  for (const identify::EvaluatedSpectrum& e : ev.spectra) without += e.error.empty() ? 0 : 1;
  if (out) {
    out->write(identify::evaluation_header());
    for (const identify::EvaluatedSpectrum& e : ev.spectra) out->write(identify::evaluation_row(e));
    out->close();
  }
  // The summary goes to standard output unless the table does.
  std::ostream& summary = args.output == "-" ? std::cerr : std::cout;
  summary << identify::evaluation_summary(ev, args.options);
  summary.flush();
  if (refused > 0) {
    std::cerr << "tessarin: " << refused << " records could not be read (see "
              << (out ? out->errors_place() : std::string("standard error")) << ")\n";
  }
  if (ev.cancelled) {
    std::fflush(stdout);
    std::cerr.flush();
    std::_Exit(stop_exit_status());
  }
  return refused > 0 || without > 0 ? kExitFailed : kExitOk;
}

}  // namespace

Command add_evaluate_command(CLI::App& program) {
  auto args = std::make_shared<EvaluateArguments>();
  args->options.identification = {};  // the method's powers: for the cosine, square-rooted intensities
  args->options.run.prediction.model = prediction::Model::ei;  // the model that identifies best
  CLI::App* command =
      add_command(program, "evaluate", "Measure predicted spectra against measured spectra of known structure.");
  command->add_option("SPECTRA", args->spectra, "measured spectrum files whose records carry a SMILES")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->required();
  command->add_option("-o,--output", args->output, "table with one row per spectrum; - standard output")
      ->type_name("OUTPUT")
      ->check(not_empty());
  add_score_options(*command, args->options.identification);
  add_model_options(*command, args->options.run.prediction);
  add_jobs_option(*command, args->options.run.jobs, "worker threads");
  add_time_limit_option(*command, args->options.run.time_limit_seconds,
                        "seconds per structure, checked between analysis steps; 0: no limit");
  command->footer(
      "Each distinct structure (canonical SMILES without stereochemistry) is predicted once. Per spectrum:\n"
      "score (the predicted against the measured spectrum), recall@5 (share of the five most intense measured\n"
      "m/z >= 15 that the prediction names at >= 5 % of its base peak), precision (share of the predicted m/z at\n"
      ">= 5 %, molecular ion excepted, that the measured spectrum shows at >= 5 %), base-peak hit, and the rank\n"
      "of the true structure among every structure of the files with its nominal mass, by the score (ties count\n"
      "half): top-1, top-3, reciprocal rank. The summary (means) goes to standard output, or to standard error\n"
      "when the table does.\n" +
      std::string(kScoreHelp) +
      "exit status: 0 every spectrum evaluated, 1 some records unreadable or spectra without SMILES or\n"
      "prediction, 2 usage or file error or no spectrum to evaluate, 130 interrupted");
  return {command, [args] { return run_evaluate(*args); }};
}

}  // namespace tessarin::cli
