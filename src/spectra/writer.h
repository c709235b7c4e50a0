// Writing spectra: MSP (strict, as NIST MS Search reads it), MGF, JSON Lines
// and a CSV peak table; the one writer of each format, for spectra and for
// the records of a predicted library alike. Reading back what a writer wrote
// gives the same spectrum for what the format can hold: MSP needs a name (a
// nameless spectrum is written under its SMILES, accession or "unnamed") and
// keeps each field on one line (surrounding blanks are lost); annotations are
// written as one comma-separated text per peak, so an annotation must not
// itself contain a comma or a double quote. An MGF header holds what MGF
// readers look for (see mgf_record); CSV is written, not read.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "spectra/reader.h"
#include "spectra/spectrum.h"

namespace tessarin::core {
class OutputFile;
}

namespace tessarin::spectra {

// One record, ending in a line break (MSP and MGF: and a blank line). Throws
// InvalidInput for a spectrum that fails Spectrum::check.
std::string msp_record(const Spectrum& spectrum);
std::string jsonl_record(const Spectrum& spectrum);

// The MGF header holds TITLE (the name), PEPMASS (the precursor m/z and
// intensity) or MW, SMILES, FORMULA, COMMENTS (where a predicted spectrum
// names its model), SYNON, EXACTMASS, INSTRUMENT, ACCESSION, and the other
// fields that are MGF parameters as MGF files write them: names of letters,
// digits and '_' starting with a capital (CHARGE, SCANS, SPECTRUMID, ...)
// whose value is not a JSON list or object. Everything else (a library
// record's eigenvalues, soft bonds and fragments) is left to JSON Lines.
std::string mgf_record(const Spectrum& spectrum);

// The CSV peak table: its header line, and one row per peak (line, name,
// SMILES, m/z, intensity, the peak's formulas separated by "; "), `line`
// saying where the spectrum was read.
std::string csv_header();
std::string csv_rows(const Spectrum& spectrum, std::size_t line);

// A JSON object as one JSON Lines line, compact; text that is not UTF-8 is
// replaced, never an exception (names read from files in other encodings).
std::string json_line(const nlohmann::ordered_json& object);

// Text as MSP comments and annotations quote it: within double quotes, on one
// line, double quotes inside turned into single quotes.
std::string quoted_text(std::string_view text);

// The record in `format`; InvalidInput for the formats only read (MassBank,
// JCAMP-DX) and for CSV (whose rows need a line: csv_rows).
std::string format_record(const Spectrum& spectrum, Format format);

// The formats a spectrum file is written in (msp, mgf, jsonl, csv), by
// `format` when given, else by the extension of `path`. Throws InvalidInput
// for a format only read, for a name whose format cannot be told, and for a
// gzip name (.gz): files are written uncompressed.
Format writable_format(const std::string& path, std::optional<Format> format);

// Writes records to a file in one format (see core::OutputFile: every
// failure is thrown, and a file that cannot be written to the end is cut back
// to its last whole record).
class SpectrumWriter {
 public:
  // Creates `path` ("-": standard output) in writable_format(path, format).
  explicit SpectrumWriter(std::string path, std::optional<Format> format = std::nullopt);
  ~SpectrumWriter();
  SpectrumWriter(const SpectrumWriter&) = delete;
  SpectrumWriter& operator=(const SpectrumWriter&) = delete;

  // CSV rows are numbered by the spectrum's "line" field when it has one (a
  // library record read back), else by its position in the file.
  void write(const Spectrum& spectrum);
  // Flushes and closes; the destructor closes without reporting failures.
  void close();
  Format format() const { return format_; }

 private:
  Format format_;
  std::unique_ptr<core::OutputFile> file_;
  std::size_t written_ = 0;
};

void write_spectra(const std::string& path, std::span<const Spectrum> spectra,
                   std::optional<Format> format = std::nullopt);

}  // namespace tessarin::spectra
