// Predicting a spectral library: what a worker does with one molecule, and
// the output file with its companion error file.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "batch/pipeline.h"
#include "batch/spectrum.h"
#include "batch/writers.h"

namespace tessarin::batch {

// Worker step: reads the SDF record if there is one, predicts the spectrum
// under a deadline of options.time_limit_seconds (also stopping when `cancel`
// is set), and formats the record when `format` is given. A molecule that
// fails gets its reason in `error`; a cancelled one is marked cancelled.
void process_molecule(Outcome& outcome, const SpectrumOptions& options, std::optional<OutputFormat> format,
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

  const std::string& errors_path() const { return errors_path_; }
  bool has_errors() const { return errors_ != nullptr || errors_on_stderr_ > 0; }

 private:
  OutputFile output_;
  std::string errors_path_;
  std::unique_ptr<OutputFile> errors_;
  std::size_t errors_on_stderr_ = 0;
};

}  // namespace tessarin::batch
