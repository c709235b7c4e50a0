// Predicting a spectral library: the one entry point behind the command
// line's `predict` and Python's predict_library. Molecules come from a
// reader, are analysed on worker threads and reach the output file (with its
// companion error file) or the caller, in input order.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analysis/analysis.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/writers.h"

namespace tessarin::batch {

struct PredictOptions {
  analysis::Options analysis;     // ring cuts, further generations
  prediction::Model model = prediction::Model::schematic;
  double time_limit_seconds = 0;  // per molecule; <= 0: no limit
};

// What RDKit and the engine set up on first use (depiction settings, element
// tables), done once, on the calling thread, before workers start.
void warm_up();

// The frame of every worker step that analyses a molecule: parses the SDF
// record if there is one, runs `work` with the stop check of a Deadline of
// the time limit (also stopping when `cancel` is set), and turns what it
// throws into the outcome's error (Cancelled: marks the outcome cancelled).
// A failed or cancelled outcome keeps no record, spectrum or text.
void guarded_step(Outcome& outcome, double time_limit_seconds, const std::atomic<bool>* cancel,
                  const std::function<void(const analysis::StopCheck&)>& work);

// Worker step: parses the SDF record if there is one, analyses the molecule
// under a Deadline of the time limit (also stopping when `cancel` is set),
// and formats the record when `format` is given. A molecule that fails gets
// its reason in `error`; a cancelled one is marked cancelled.
void process_molecule(Outcome& outcome, const PredictOptions& options, std::optional<OutputFormat> format,
                      const std::atomic<bool>* cancel);

// The path of the error file of an output file: OUTPUT.errors.tsv.
std::string errors_path_of(const std::string& output_path);

// The output file and, created at the first failure, OUTPUT.errors.tsv (an
// error file left by an earlier run is removed at the start, so that it never
// describes another run). With the output "-" (standard output) failures are
// written to standard error instead.
class LibraryFiles {
 public:
  LibraryFiles(const std::string& output_path, OutputFormat format);

  // A formatted record, or an error row for a failed molecule.
  void write(const Outcome& outcome);
  void flush();
  // Throws std::runtime_error when anything could not be written.
  void close();

  OutputFormat format() const { return format_; }
  const std::string& errors_path() const { return errors_path_; }
  bool has_errors() const { return errors_ != nullptr || errors_on_stderr_ > 0; }

 private:
  OutputFile output_;
  OutputFormat format_;
  std::string errors_path_;
  std::unique_ptr<OutputFile> errors_;
  std::size_t errors_on_stderr_ = 0;
};

struct LibraryRequest {
  PredictOptions options;
  unsigned jobs = 0;  // worker threads; 0: one per core
  // The next molecule (reader thread), false at the end; see BatchCallbacks::read.
  std::function<bool(MoleculeInput&)> read;
  // Where the results go: a file (with its error file) when `files` is set,
  // otherwise each outcome, records and failures alike, to `collect`.
  LibraryFiles* files = nullptr;
  std::function<void(Outcome&)> collect;
  // About ten times a second and at the end, on the calling thread.
  std::function<void(const BatchProgress&)> progress;
  // Set (by a signal handler, or by `progress`) to stop: finished records up
  // to the first missing one are still delivered, and the run returns
  // with `cancelled` set.
  std::atomic<bool>* cancel = nullptr;
};

// Runs the whole library. RDKit's one-time set-up is done first on the
// calling thread. The files are closed at the end, also when reading or
// writing fails, in which case the failure is rethrown (std::runtime_error).
BatchSummary predict_library(const LibraryRequest& request);

}  // namespace tessarin::batch
