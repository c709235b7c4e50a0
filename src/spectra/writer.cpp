#include "spectra/writer.h"

#include <algorithm>

#include "core/errors.h"
#include "core/output_file.h"
#include "spectra/record_parsers.h"
#include "spectra/text.h"

namespace tessarin::spectra {
namespace {

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

namespace detail {

void append_peak_lines(std::string& out, const Spectrum& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += text::number_text(s.mz[i]);
    out += ' ';
    out += text::number_text(s.intensities[i]);
    if (!s.annotations[i].empty()) {
      out += ' ';
      out += annotation_text(s.annotations[i]);
    }
    out += '\n';
  }
}

}  // namespace detail

std::string quoted_text(std::string_view text) {
  std::string out = detail::one_line(text);
  std::replace(out.begin(), out.end(), '"', '\'');
  return "\"" + out + "\"";
}

std::string csv_header() { return "line,name,smiles,mz,intensity,formula\n"; }

std::string csv_rows(const Spectrum& s, std::size_t line) {
  s.check();
  const std::string prefix = std::to_string(line) + "," + csv_field(detail::flattened(s.metadata.get(keys::name))) +
                             "," + csv_field(s.metadata.get(keys::smiles)) + ",";
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += prefix + text::number_text(s.mz[i]) + "," + text::number_text(s.intensities[i]) + "," +
           csv_field(text::join(s.annotations[i], "; ")) + "\n";
  }
  return out;
}

std::string json_line(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string format_record(const Spectrum& spectrum, Format format) {
  switch (format) {
    case Format::msp:
      return msp_record(spectrum);
    case Format::mgf:
      return mgf_record(spectrum);
    case Format::jsonl:
      return jsonl_record(spectrum);
    case Format::csv:
    case Format::massbank:
    case Format::jcamp:
      break;
  }
  throw InvalidInput("spectra are written as msp, mgf or jsonl records, not " + std::string(format_name(format)));
}

Format writable_format(const std::string& path, std::optional<Format> format) {
  const std::string name = text::lower(path);
  if (name.size() > 3 && name.ends_with(".gz")) {
    throw InvalidInput("cannot write " + path +
                       ": files are written uncompressed (name it without .gz and compress it afterwards)");
  }
  if (!format) format = format_from_extension(path);
  if (!format || *format == Format::massbank || *format == Format::jcamp) {
    throw InvalidInput("cannot write spectra to " + path +
                       ": name it .msp, .mgf, .jsonl or .csv or give the format (msp, mgf, jsonl or csv)");
  }
  return *format;
}

SpectrumWriter::SpectrumWriter(std::string path, std::optional<Format> format)
    : format_(writable_format(path, format)), file_(std::make_unique<core::OutputFile>(std::move(path))) {
  if (format_ == Format::csv) file_->write(csv_header());
}

SpectrumWriter::~SpectrumWriter() = default;

void SpectrumWriter::write(const Spectrum& spectrum) {
  ++written_;
  if (format_ != Format::csv) {
    file_->write(format_record(spectrum, format_));
    return;
  }
  std::size_t line = written_;
  if (const std::optional<double> given = spectrum.metadata.number("line");
      given && *given >= 0 && *given < 1e15 && *given == static_cast<double>(static_cast<std::size_t>(*given))) {
    line = static_cast<std::size_t>(*given);
  }
  file_->write(csv_rows(spectrum, line));
}

void SpectrumWriter::close() { file_->close(); }

void write_spectra(const std::string& path, std::span<const Spectrum> spectra, std::optional<Format> format) {
  SpectrumWriter writer(path, format);
  for (const Spectrum& s : spectra) writer.write(s);
  writer.close();
}

}  // namespace tessarin::spectra
