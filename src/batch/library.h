// Predicting a spectral library: the one entry point behind the command
// line's `predict` and Python's predict_library. Molecules come from a
// reader, are analysed in worker processes (or on worker threads) and reach
// the output file (with its companion error file) or the caller, in input
// order.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "batch/record.h"
#include "batch/resume.h"
#include "batch/writers.h"
#include "core/output_file.h"
#include "run/pipeline.h"
#include "run/worker_process.h"

namespace tessarin::batch {

struct PredictOptions {
  analysis::Options analysis;  // ring cuts, further generations
  prediction::Model model = prediction::Model::schematic;
  double time_limit_seconds = 0;  // per molecule; <= 0: no limit
};

// Told the step of the analysis under way ("the atom layout") as it starts.
using StepListener = std::function<void(std::string_view step)>;

// Worker step: parses the SDF record if there is one, analyses the molecule
// under a Deadline of the time limit (also stopping when `cancel` is set),
// and formats its record in `format` into the outcome's text. A molecule
// that fails gets its reason in `error`; a cancelled one is marked cancelled.
void process_molecule(run::Outcome& outcome, const PredictOptions& options, OutputFormat format,
                      const std::atomic<bool>* cancel, const StepListener& on_step = {});

// The path of the error file of an output file: OUTPUT.errors.tsv.
std::string errors_path_of(const std::string& output_path);

// The output file and, created at the first failure, OUTPUT.errors.tsv (an
// error file left by an earlier run is removed at the start, so that it never
// describes another run). With the output "-" (standard output) failures are
// written to standard error instead. Every record is flushed as it is
// written, in input order across both files, so that a run killed at any
// moment leaves whole records but for the last one (see resume.h); a write
// that fails (a full disk) cuts its file back to the last whole record
// (core::OutputFile).
class LibraryFiles {
 public:
  // A new library. With `run`, its description is recorded beside the output
  // (OUTPUT.run.json). With `resume` and an existing output, the library is
  // continued instead: the record must match `run` (ResumeRefused otherwise),
  // a last half-written record is cut off, and resumed() tells how many
  // molecules the files already hold. Throws UnusableFile when a file cannot
  // be created, InvalidInput for an output named .gz (libraries are written
  // uncompressed), FileAccessError when a file cannot be written.
  LibraryFiles(const std::string& output_path, OutputFormat format, const RunDescription* run = nullptr,
               bool resume = false);

  // A formatted record, or an error row for a failed molecule.
  void write(const run::Outcome& outcome);
  void flush();
  // Throws std::runtime_error when anything could not be written.
  void close();

  OutputFormat format() const { return format_; }
  const std::string& errors_path() const { return errors_path_; }
  // Failures were written, by this run or the one it resumes.
  bool has_errors() const { return errors_ != nullptr || errors_exist_ || errors_on_stderr_ > 0; }
  // The molecules an earlier run left in the files (0 for a new library).
  std::size_t resumed() const { return state_.molecules; }
  const LibraryState& resumed_state() const { return state_; }

 private:
  std::unique_ptr<core::OutputFile> output_;
  OutputFormat format_;
  std::string errors_path_;
  std::unique_ptr<core::OutputFile> errors_;
  bool errors_exist_ = false;  // a resumed error file, appended to
  std::size_t errors_on_stderr_ = 0;
  LibraryState state_;
};

struct LibraryRequest {
  PredictOptions options;
  unsigned jobs = 0;  // worker threads (and processes); 0: one per core
  // The next molecule (reader thread), false at the end; see BatchCallbacks::read.
  std::function<bool(run::MoleculeInput&)> read;
  // Where the results go: a file (with its error file) when `files` is set,
  // otherwise each outcome, records and failures alike, to `collect` (a
  // record as its JSON text in `text`).
  LibraryFiles* files = nullptr;
  std::function<void(run::Outcome&)> collect;
  // About ten times a second and at the end, on the calling thread.
  std::function<void(const run::BatchProgress&)> progress;
  // Set (by a signal handler, or by `progress`) to stop: finished records up
  // to the first missing one are still delivered, and the run returns
  // with `cancelled` set.
  std::atomic<bool>* cancel = nullptr;
  // Where the molecules are analysed. In processes started from this worker
  // program (one per job, replaced when it dies): a time limit holds whatever
  // step the molecule is in (the process is stopped at the limit, with a
  // grace of 5 % + 0.2 s for the analysis to notice it first), a crash costs
  // only the molecule it happened on, and cancelling stops every molecule at
  // once. Without one, on threads of this process, where a limit or a
  // cancellation is noticed at the analysis's next check.
  std::optional<run::WorkerCommand> workers;
};

// Runs the whole library. With a resumed library, the molecules its files
// already hold are read first and skipped (ResumeRefused when the input does
// not start with them). Worker processes are started before the run (a
// failure to start one is thrown as std::runtime_error). The files are closed
// at the end, also when reading or writing fails, in which case the failure
// is rethrown (std::runtime_error).
run::BatchSummary predict_library(const LibraryRequest& request);

}  // namespace tessarin::batch
