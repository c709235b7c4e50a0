// A result table written to a file or standard output, with the rows of
// what failed (records that could not be read, molecules that could not be
// predicted) in OUTPUT.errors.tsv beside it, or on standard error when the
// table goes to standard output.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/output_file.h"

namespace tessarin::cli {

class TableOutput {
 public:
  // Creates the table ("-": standard output) and removes an error file left
  // by an earlier run. Throws UsageError when the table cannot be created.
  TableOutput(const std::string& path, std::string error_header);

  void write(std::string_view text) { table_->write(text); }
  // One error row (ending in a line break); the error file and its header
  // are written at the first.
  void error(std::string_view row);
  // Throws std::runtime_error when anything could not be written.
  void close();

  std::size_t errors() const { return errors_; }
  // "OUTPUT.errors.tsv", or "standard error".
  std::string errors_place() const { return errors_path_.empty() ? "standard error" : errors_path_; }

 private:
  std::unique_ptr<core::OutputFile> table_;
  std::string error_header_;
  std::string errors_path_;
  std::unique_ptr<core::OutputFile> errors_file_;
  std::size_t errors_ = 0;
};

}  // namespace tessarin::cli
