// The argument parser of the tessarin program (CLI11): how a subcommand is
// declared, the checks on option values, and the options several
// subcommands share.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "analysis/analysis.h"
#include "prediction/predict.h"
#include "spectra/similarity.h"

namespace tessarin::cli {

// One subcommand: its parser and what runs it once its arguments have parsed
// (returning the exit status).
struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

// The top-level parser: --help, --version, the exit statuses in its help, and
// one subcommand required.
std::unique_ptr<CLI::App> make_program();

// A new subcommand of `program`, with the layout every subcommand shares.
CLI::App* add_command(CLI::App& program, const std::string& name, const std::string& description);

// Checks of an option's text, run before it is converted. A failure reads
// "--jobs: needs a whole number from 1 to 1024, got '0'".
CLI::Validator whole_number(long lowest, long highest);
CLI::Validator finite_number(double lowest = std::numeric_limits<double>::lowest());
CLI::Validator not_empty();

// --ring, --recursive and --max-generations, into `options`: the choices of
// every subcommand that predicts spectra.
void add_prediction_options(CLI::App& command, analysis::Options& options);

// -j,--jobs into `jobs` (0, the default, meaning one per core); `what`
// names the workers ("worker threads", "worker processes").
void add_jobs_option(CLI::App& command, unsigned& jobs, const std::string& what);

// --timeout-per-molecule into `seconds` (0: no limit), described by `help`.
void add_time_limit_option(CLI::App& command, double& seconds, const std::string& help);

// The measured spectrum a subcommand reads: record `record` (1-based) of
// the file `path` (read with read_record).
struct SpectrumChoice {
  std::string path;
  std::size_t record = 1;
};

// SPECTRUM and --record into `choice`: the measured spectrum of the
// subcommands that explain or identify one.
void add_spectrum_options(CLI::App& command, SpectrumChoice& choice);

// --full-range into `full_range`: the predicted peaks outside the measured
// m/z range scored too.
void add_full_range_option(CLI::App& command, bool& full_range);

// --model into `model`.
void add_model_option(CLI::App& command, prediction::Model& model);

// --model, and the options above, into `options`: the choices of the
// subcommands that predict spectra to score them.
void add_model_options(CLI::App& command, prediction::PredictionOptions& options);

// --method, --tolerance, --mz-power, --intensity-power and --reverse into
// `options`, whose values at the call are the defaults shown.
void add_score_options(CLI::App& command, spectra::SimilarityOptions& options);

// The default score in one line, for the help of each command that scores.
inline constexpr const char* kScoreHelp =
    "The score is the cosine of the matched peaks' weights sqrt(I) (peaks within 0.5 m/z, matched greedily,\n"
    "largest first); --intensity-power 1 gives the plain cosine.\n";

// "usage: tessarin predict [OPTIONS] INPUT" for the subcommand (or the
// program) `app`.
std::string usage_line(const CLI::App& app);

}  // namespace tessarin::cli
