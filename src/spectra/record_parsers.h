// The per-format record parsers behind SpectrumReader.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "spectra/line_source.h"
#include "spectra/reader.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra::detail {

// A fault found in a record, before the parser moves to the next record.
struct ParseFault {
  std::size_t line;
  std::string reason;
};

class RecordParser {
 public:
  explicit RecordParser(LineSource& source) : source_(source) {}
  virtual ~RecordParser() = default;

  // Reads the next record into `out`; false at the end of the file. A
  // malformed record throws RecordError, after the source has been moved to
  // the start of the next record.
  bool next(Spectrum& out);

  // First line of the record last read or refused.
  std::size_t record_line() const { return record_line_; }

 protected:
  // Parses one record; throws ParseFault for a malformed one.
  virtual bool parse(Spectrum& out) = 0;
  // Moves past the rest of a record that parse() refused.
  virtual void skip_rest() = 0;

  // The next line, refusing one too long to keep; nullptr at the end.
  const std::string* line();
  [[noreturn]] void fail(std::string reason) const;
  [[noreturn]] void fail_at(std::size_t line, std::string reason) const;

  LineSource& source_;
  std::size_t record_line_ = 0;
};

std::unique_ptr<RecordParser> make_msp_parser(LineSource& source);
std::unique_ptr<RecordParser> make_massbank_parser(LineSource& source);
std::unique_ptr<RecordParser> make_jcamp_parser(LineSource& source);
std::unique_ptr<RecordParser> make_mgf_parser(LineSource& source);
std::unique_ptr<RecordParser> make_jsonl_parser(LineSource& source);

// Peak values as the readers take them: m/z and intensity finite and not
// negative; throws ParseFault at the current line otherwise.
void check_peak(const LineSource& source, double mz, double intensity);

// Reads numbers separated by blanks, tabs, ';', ',', ':' and parentheses;
// false at the first token that is not a number (its position in `stop`).
bool read_number(std::string_view s, std::size_t& pos, double& value);
bool is_peak_separator(char c);

// Formula annotation text as the MSP, MGF and MassBank readers keep it: the
// comma-separated parts, trimmed.
std::vector<std::string> split_annotation(std::string_view text);

// A peak's annotations as the MSP and MGF writers put them: one quoted,
// comma-separated text (double quotes inside become single quotes).
std::string annotation_text(const std::vector<std::string>& parts);

// A field value on one line: trimmed, line breaks and tabs become blanks.
std::string one_line(std::string_view s);

}  // namespace tessarin::spectra::detail
