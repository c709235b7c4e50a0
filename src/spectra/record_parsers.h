// The per-format record parsers behind SpectrumReader.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/line_source.h"
#include "spectra/reader.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra::detail {

using core::LineSource;

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
  // The first line of the next record: the next line that is not blank (nor,
  // with a `comment` character, a line starting with it), whose number
  // becomes record_line(); nullptr at the end.
  const std::string* record_start(char comment = '\0');
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

// Whether `token` is a number that is not finite: NaN or infinity as
// programs write them ("nan", "-inf", "Infinity", "NaN(0x1)"), or a number
// beyond the range of doubles ("1e999").
bool is_non_finite_number(std::string_view token);
// "the value 'nan' is not a finite number", for a `token` so refused.
std::string not_finite_reason(std::string_view token);
// Whether a line starts with such a number (a peak line whose first value is
// not finite, which must be refused as such).
bool starts_with_non_finite_number(std::string_view line);

// Reads numbers separated by blanks, tabs, ';', ',', ':' and parentheses;
// false at the first token that is not a number. A token that is a number but
// not a finite one (is_non_finite_number) throws ParseFault at the current
// line of `source`, naming it.
bool read_number(const LineSource& source, std::string_view s, std::size_t& pos, double& value);
bool is_peak_separator(char c);

// The peak lines of MSP and MGF records: "mz intensity", then the quoted
// annotations when the peak has any.
void append_peak_lines(std::string& out, const Spectrum& spectrum);

// Formula annotation text as the MSP, MGF and MassBank readers keep it: the
// comma-separated parts, trimmed.
std::vector<std::string> split_annotation(std::string_view text);

// A peak's annotations as the MSP and MGF writers put them: one quoted text,
// the parts separated by ", " (double quotes inside become single quotes).
std::string annotation_text(const std::vector<std::string>& parts);

// A field value on one line: trimmed, line breaks and tabs become blanks.
std::string one_line(std::string_view s);
// The same without trimming.
std::string flattened(std::string_view s);

}  // namespace tessarin::spectra::detail
