#include "batch/library.h"

#include <RDGeneral/Invariant.h>

#include <filesystem>
#include <iostream>

#include "core/errors.h"

namespace tessarin::batch {

void process_molecule(Outcome& o, const SpectrumOptions& options, std::optional<OutputFormat> format,
                      const std::atomic<bool>* cancel) {
  try {
    const Deadline deadline(options.time_limit_seconds, cancel);
    if (!o.input.molblock.empty()) resolve_sdf_record(o.input);
    o.record = predict_spectrum(o.input.line, o.input.name, o.input.smiles, options, deadline);
    if (format) o.text = format_record(*o.record, *format);
  } catch (const Cancelled&) {
    o.record.reset();
    o.cancelled = true;
  } catch (const UnreadableSmiles&) {
    o.error = "unparsable SMILES";
  } catch (const Invar::Invariant& e) {
    o.error = std::string("RDKit rejected the molecule: ") + e.what();
  } catch (const std::exception& e) {
    o.error = e.what();
  }
  if (!o.error.empty()) o.record.reset();
}

std::string errors_path_of(const std::string& output_path) { return output_path + ".errors.tsv"; }

LibraryFiles::LibraryFiles(const std::string& output_path, OutputFormat format) : output_(output_path) {
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

}  // namespace tessarin::batch
