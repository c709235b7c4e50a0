#include "batch/writers.h"

#include "prediction/ei_model.h"
#include "spectra/writer.h"

namespace tessarin::batch {
namespace {

// Line breaks and tabs inside a one-line field become blanks.
std::string one_line(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return out;
}

}  // namespace

std::optional<OutputFormat> output_format_named(std::string_view name) {
  for (OutputFormat f : {OutputFormat::msp, OutputFormat::jsonl, OutputFormat::csv, OutputFormat::mgf}) {
    if (name == output_format_name(f)) return f;
  }
  return std::nullopt;
}

std::string_view output_format_name(OutputFormat format) {
  switch (format) {
    case OutputFormat::msp:
      return "msp";
    case OutputFormat::jsonl:
      return "jsonl";
    case OutputFormat::csv:
      return "csv";
    case OutputFormat::mgf:
      return "mgf";
  }
  return "msp";
}

std::optional<OutputFormat> output_format_of_path(std::string_view path) {
  const std::optional<spectra::Format> f = spectra::format_from_extension(path);
  if (!f) return std::nullopt;
  return output_format_named(spectra::format_name(*f));
}

spectra::Format spectrum_format(OutputFormat format) { return *spectra::format_named(output_format_name(format)); }

std::string output_header(OutputFormat format) { return format == OutputFormat::csv ? spectra::csv_header() : ""; }

spectra::Spectrum record_spectrum(const SpectrumRecord& r) {
  spectra::Spectrum s;
  s.mz.reserve(r.peaks.size());
  s.intensities.reserve(r.peaks.size());
  s.annotations.reserve(r.peaks.size());
  for (const prediction::Peak& p : r.peaks) {
    s.mz.push_back(p.mz);
    s.intensities.push_back(p.intensity);
    if (!p.formulas.empty()) {
      s.annotations.push_back(p.formulas);
    } else if (!p.formula.empty()) {
      s.annotations.push_back({p.formula});
    } else {
      s.annotations.emplace_back();
    }
  }
  spectra::Metadata& m = s.metadata;
  namespace keys = spectra::keys;
  if (!r.name.empty()) m.set(keys::name, r.name);
  m.set(keys::formula, r.formula);
  m.set(keys::mol_mass, std::to_string(r.mol_mass));
  if (!r.cas.empty()) m.set("CASNO", one_line(r.cas));
  if (!r.id.empty()) m.set("ID", one_line(r.id));
  m.set(keys::smiles, r.smiles);
  const counts::LpiCounts& c = r.lpi.counts;
  std::string comments =
      spectra::quoted_text("LPI={n+=" + std::to_string(c.n_plus) + ", n0=" + std::to_string(c.n_zero) +
                           ", n-=" + std::to_string(c.n_minus) + "}");
  if (r.model != prediction::Model::schematic) {
    comments += ' ';
    comments += spectra::quoted_text(prediction::kEiModelComment);
  }
  if (const std::string options = options_text(r); !options.empty()) {
    comments += ' ';
    comments += spectra::quoted_text("options=" + options);
  }
  m.set(keys::comments, std::move(comments));
  return s;
}

std::string format_record(const SpectrumRecord& record, OutputFormat format) {
  switch (format) {
    case OutputFormat::msp:
      return spectra::msp_record(record_spectrum(record));
    case OutputFormat::jsonl:
      return spectra::json_line(record_json(record));
    case OutputFormat::csv:
      return spectra::csv_rows(record_spectrum(record), record.line);
    case OutputFormat::mgf:
      return spectra::mgf_record(record_spectrum(record));
  }
  return {};
}

std::string error_header() { return "line\tsmiles\treason\n"; }

std::string error_row(std::size_t line, std::string_view smiles, std::string_view reason) {
  return std::to_string(line) + "\t" + one_line(smiles) + "\t" + one_line(reason) + "\n";
}

}  // namespace tessarin::batch
