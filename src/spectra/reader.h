// Reading spectra from the files of spectral libraries and instruments, one
// record at a time, so that a library of any size streams through.
//
// Formats:
//   msp       NIST text (as NIST, MoNA, MS-DIAL and tessarin write it)
//   massbank  MassBank record files (.txt), or a directory of them
//   jcamp     JCAMP-DX mass spectra (peak tables, several blocks per file)
//   mgf       Mascot generic format (BEGIN IONS ... END IONS)
//   jsonl     JSON Lines: one object with a "peaks" list per line
// (and csv, a peak table, written only). Any of them may be gzip-compressed;
// lines may end in LF, CRLF or CR.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra {

enum class Format { msp, massbank, jcamp, mgf, jsonl, csv };

std::string_view format_name(Format format);
// "msp", "massbank", "jcamp", "mgf", "jsonl", "csv"; nothing for any other name.
std::optional<Format> format_named(std::string_view name);
// By file name, a trailing .gz aside: .msp/.msl, .mgf, .jsonl/.ndjson/.json,
// .jdx/.dx/.jcamp, .csv; nothing for other names (a .txt file may be
// MassBank or MSP: its content decides).
std::optional<Format> format_from_extension(std::string_view path);
// By the first lines of a file; nothing when they fit no format.
std::optional<Format> format_from_content(std::string_view head);

// A record that cannot be read. The reader that threw it stays usable: its
// next call goes on with the following record.
class RecordError : public InvalidInput {
 public:
  RecordError(std::string path, std::size_t line, std::string reason);
  const std::string& path() const { return path_; }
  std::size_t line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::size_t line_;
  std::string reason_;
};

class SpectrumReader {
 public:
  // Opens `path`: a file, "-" for standard input, or a directory (read as
  // MassBank record files: every *.txt below it, in order of their paths).
  // The file may be gzip-compressed. The format is `format` when given, else
  // the extension's (under .gz, the name it compresses), else the
  // (decompressed) content's. Throws UnusableFile when the path cannot be
  // opened, InvalidInput when its format cannot be told or is not read.
  explicit SpectrumReader(const std::string& path, std::optional<Format> format = std::nullopt);
  ~SpectrumReader();
  SpectrumReader(SpectrumReader&&) noexcept;
  SpectrumReader& operator=(SpectrumReader&&) noexcept;

  // Reads the next record into `out` (replacing what it held); false at the
  // end. A malformed record throws RecordError (file, line, reason); call
  // next() again to skip it and go on. Throws std::runtime_error when the
  // file cannot be read at all.
  bool next(Spectrum& out);

  Format format() const;
  // File and first line of the record last returned or refused.
  const std::string& record_path() const;
  std::size_t record_line() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Every record of `path`. Malformed records go to `errors` when it is given;
// otherwise the first one is thrown.
std::vector<Spectrum> read_spectra(const std::string& path, std::optional<Format> format = std::nullopt,
                                   std::vector<RecordError>* errors = nullptr);

}  // namespace tessarin::spectra
