// The files of a spectral library: its records in one of the library
// formats, written by the spectra writers (NIST-style MSP, JSON Lines with
// the full record, a CSV peak table, MGF), and the tab-separated file of the
// molecules that failed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "batch/record.h"
#include "spectra/reader.h"
#include "spectra/spectrum.h"

namespace tessarin::batch {

enum class OutputFormat { msp, jsonl, csv, mgf };

// "msp", "jsonl", "csv" or "mgf"; nothing for any other name.
std::optional<OutputFormat> output_format_named(std::string_view name);
std::string_view output_format_name(OutputFormat format);
// The format a file name declares: .msp, .jsonl (.ndjson, .json), .csv or
// .mgf, a trailing .gz aside; nothing for any other name.
std::optional<OutputFormat> output_format_of_path(std::string_view path);
// The spectrum-file format of the same name.
spectra::Format spectrum_format(OutputFormat format);

// Text written once before the first record ("" when the format has none).
std::string output_header(OutputFormat format);

// One record: an MSP entry ending in a blank line, one JSON line, one CSV row
// per peak, or an MGF entry.
std::string format_record(const SpectrumRecord& record, OutputFormat format);

// The record as the spectrum MSP, MGF and CSV write: its peaks (each with its
// formulas), name (when it has one), formula, MW, CASNO and ID (when known),
// SMILES, and as comments its LPI, the model (when not schematic) and the
// options beyond the defaults.
spectra::Spectrum record_spectrum(const SpectrumRecord& record);

// The error file: its header, and one row per failed molecule (tabs and
// line breaks inside a field become blanks).
std::string error_header();
std::string error_row(std::size_t line, std::string_view smiles, std::string_view reason);

}  // namespace tessarin::batch
