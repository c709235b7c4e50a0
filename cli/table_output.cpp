#include "table_output.h"

#include <filesystem>
#include <iostream>

#include "batch/library.h"
#include "common.h"

namespace tessarin::cli {
TableOutput::TableOutput(const std::string& path, std::string error_header) : error_header_(std::move(error_header)) {
  try {
    table_ = std::make_unique<core::OutputFile>(path);
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }
  if (path != "-") {
    errors_path_ = batch::errors_path_of(path);
    std::error_code ignored;
    std::filesystem::remove(errors_path_, ignored);
  }
}

void TableOutput::error(std::string_view row) {
  if (errors_++ == 0) {
    if (errors_path_.empty()) {
      std::cerr << error_header_;
    } else {
      errors_file_ = std::make_unique<core::OutputFile>(errors_path_);
      errors_file_->write(error_header_);
    }
  }
  if (errors_file_) {
    errors_file_->write(row);
  } else {
    std::cerr << row;
  }
}

void TableOutput::close() {
  table_->close();
  if (errors_file_) errors_file_->close();
}

}  // namespace tessarin::cli
