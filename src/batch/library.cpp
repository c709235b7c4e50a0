#include "batch/library.h"

#include <RDGeneral/Invariant.h>

#include <filesystem>
#include <iostream>
#include <mutex>

#include "batch/deadline.h"
#include "core/errors.h"

namespace tessarin::batch {

void warm_up() {
  static std::once_flag once;
  std::call_once(once, [] { (void)analysis::analyse_smiles("OC(=O)c1ccccc1C1CC1", analysis::Options{}); });
}

void guarded_step(Outcome& o, double time_limit_seconds, const std::atomic<bool>* cancel,
                  const std::function<void(const analysis::StopCheck&)>& work) {
  try {
    const Deadline deadline(time_limit_seconds, cancel);
    if (!o.input.molblock.empty()) resolve_sdf_record(o.input);
    work([&deadline](std::string_view step) { deadline.check(step); });
  } catch (const Cancelled&) {
    o.cancelled = true;
  } catch (const Invar::Invariant& e) {
    o.error = std::string("RDKit rejected the molecule: ") + e.what();
  } catch (const std::exception& e) {
    o.error = *e.what() != '\0' ? e.what() : "unknown failure";
  }
  if (o.cancelled || !o.error.empty()) {
    o.record.reset();
    o.spectrum.reset();
    o.text.clear();
  }
}

void process_molecule(Outcome& o, const PredictOptions& options, std::optional<OutputFormat> format,
                      const std::atomic<bool>* cancel) {
  guarded_step(o, options.time_limit_seconds, cancel, [&](const analysis::StopCheck& stop) {
    std::optional<analysis::Result> result = analysis::analyse_smiles(o.input.smiles, options.analysis, stop);
    if (!result) throw InvalidInput("unparsable SMILES");
    o.record = make_record(o.input.line, o.input.name, o.input.smiles, std::move(*result), options.model);
    if (format) o.text = format_record(*o.record, *format);
  });
}

std::string errors_path_of(const std::string& output_path) { return output_path + ".errors.tsv"; }

LibraryFiles::LibraryFiles(const std::string& output_path, OutputFormat format)
    : output_(output_path), format_(format) {
  if (output_path != "-") {
    errors_path_ = errors_path_of(output_path);
    std::error_code ignored;
    std::filesystem::remove(errors_path_, ignored);
  }
  output_.write(output_header(format));
}

void LibraryFiles::write(const Outcome& o) {
  if (o.record) {
    output_.write(o.text);
    return;
  }
  const std::string row = error_row(o.input.line, o.input.smiles, o.error);
  if (errors_path_.empty()) {
    if (errors_on_stderr_++ == 0) std::cerr << error_header();
    std::cerr << row;
    return;
  }
  if (!errors_) {
    errors_ = std::make_unique<OutputFile>(errors_path_);
    errors_->write(error_header());
  }
  errors_->write(row);
}

void LibraryFiles::flush() {
  output_.flush();
  if (errors_) errors_->flush();
}

void LibraryFiles::close() {
  output_.close();
  if (errors_) errors_->close();
}

BatchSummary predict_library(const LibraryRequest& request) {
  std::atomic<bool> never{false};
  std::atomic<bool>& cancel = request.cancel != nullptr ? *request.cancel : never;
  LibraryFiles* files = request.files;
  const std::optional<OutputFormat> format = files != nullptr ? std::optional(files->format()) : std::nullopt;

  BatchCallbacks cb;
  cb.read = request.read;
  cb.process = [&request, format, &cancel](Outcome& o) { process_molecule(o, request.options, format, &cancel); };
  if (files != nullptr) {
    cb.write = [files](Outcome& o) { files->write(o); };
  } else {
    cb.write = request.collect;
  }
  cb.progress = request.progress;

  BatchSummary summary;
  try {
    warm_up();
    summary = run_batch(cb, request.jobs, cancel);
    if (files != nullptr) files->close();
  } catch (...) {
    if (files != nullptr) {
      try {
        files->close();
      } catch (const std::exception&) {
        // The first failure is the one to report.
      }
    }
    throw;
  }
  return summary;
}

}  // namespace tessarin::batch
