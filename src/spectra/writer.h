// Writing spectra: MSP (strict, as NIST MS Search reads it), MGF and JSON
// Lines. Reading back what a writer wrote gives the same spectrum for what
// the format can hold: MSP needs a name (a nameless spectrum is written under
// its SMILES, accession or "unnamed") and keeps each field on one line
// (surrounding blanks are lost); annotations are written as one
// comma-separated text per peak, so an annotation must not itself contain a
// comma or a double quote.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "spectra/reader.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra {

// One record, ending in a line break (MSP and MGF: and a blank line). Throws
// InvalidInput for a spectrum that fails Spectrum::check.
std::string msp_record(const Spectrum& spectrum);
std::string mgf_record(const Spectrum& spectrum);
std::string jsonl_record(const Spectrum& spectrum);

// The record in `format`; InvalidInput for the formats only read (MassBank,
// JCAMP-DX).
std::string format_record(const Spectrum& spectrum, Format format);

// Writes records to a file in one format, reporting every failure: write and
// close throw std::runtime_error naming the path and the system's reason.
class SpectrumWriter {
 public:
  // Creates `path` ("-": standard output). The format is `format` when given,
  // else the extension's (.msp, .mgf, .jsonl); InvalidInput otherwise.
  explicit SpectrumWriter(std::string path, std::optional<Format> format = std::nullopt);
  ~SpectrumWriter();
  SpectrumWriter(const SpectrumWriter&) = delete;
  SpectrumWriter& operator=(const SpectrumWriter&) = delete;

  void write(const Spectrum& spectrum);
  // Flushes and closes; the destructor closes without reporting failures.
  void close();
  Format format() const { return format_; }

 private:
  [[noreturn]] void fail(const char* what) const;
  std::string path_;
  Format format_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

void write_spectra(const std::string& path, std::span<const Spectrum> spectra,
                   std::optional<Format> format = std::nullopt);

}  // namespace tessarin::spectra
