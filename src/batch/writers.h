// Spectral-library output: NIST-style MSP text, JSON Lines, CSV, and the
// tab-separated file of the molecules that failed.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "batch/record.h"

namespace tessarin::batch {

enum class OutputFormat { msp, jsonl, csv };

// "msp", "jsonl" or "csv"; nothing for any other name.
std::optional<OutputFormat> output_format_named(std::string_view name);

// Text written once before the first record ("" when the format has none).
std::string output_header(OutputFormat format);

// One record: an MSP entry ending in a blank line, one JSON line, or one CSV
// row per peak.
std::string format_record(const SpectrumRecord& record, OutputFormat format);

std::string msp_record(const SpectrumRecord& record);
std::string jsonl_record(const SpectrumRecord& record);
std::string csv_rows(const SpectrumRecord& record);

// The error file: its header, and one row per failed molecule (tabs and
// line breaks inside a field become blanks).
std::string error_header();
std::string error_row(std::size_t line, std::string_view smiles, std::string_view reason);

// A file written through stdio whose every failure is reported: write and
// close throw std::runtime_error naming the path and the system's reason.
// The path "-" is standard output (never closed).
class OutputFile {
 public:
  // Creates (or empties) the file, or with `append` writes after its end.
  explicit OutputFile(std::string path, bool append = false);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view text);
  void flush();
  void close();
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void fail(const char* what) const;

  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace tessarin::batch
