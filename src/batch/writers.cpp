#include "batch/writers.h"

#include "prediction/ei_model.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

// MSP keeps each field on one line and quotes formulas and comments.
std::string msp_quoted(std::string_view text) {
  std::string out = one_line(text);
  for (char& c : out) {
    if (c == '"') c = '\'';
  }
  return "\"" + out + "\"";
}

}  // namespace

std::optional<OutputFormat> output_format_named(std::string_view name) {
  if (name == "msp") return OutputFormat::msp;
  if (name == "jsonl") return OutputFormat::jsonl;
  if (name == "csv") return OutputFormat::csv;
  return std::nullopt;
}

std::string output_header(OutputFormat format) {
  return format == OutputFormat::csv ? "line,name,smiles,mz,intensity,formula\n" : "";
}

std::string format_record(const SpectrumRecord& record, OutputFormat format) {
  switch (format) {
    case OutputFormat::msp:
      return msp_record(record);
    case OutputFormat::jsonl:
      return jsonl_record(record);
    case OutputFormat::csv:
      return csv_rows(record);
  }
  return {};
}

namespace {

// The formula of a peak, or every formula of a peak that lists several.
std::string peak_label(const prediction::Peak& p, std::string_view separator) {
  if (p.formulas.empty()) return p.formula;
  std::string out;
  for (const std::string& f : p.formulas) {
    if (!out.empty()) out += separator;
    out += f;
  }
  return out;
}

}  // namespace

std::string msp_record(const SpectrumRecord& r) {
  const counts::LpiCounts& c = r.lpi.counts;
  std::string out;
  out += "Name: " + one_line(r.name.empty() ? r.smiles : r.name) + "\n";
  out += "Formula: " + r.formula + "\n";
  out += "MW: " + std::to_string(r.mol_mass) + "\n";
  if (!r.cas.empty()) out += "CASNO: " + one_line(r.cas) + "\n";
  if (!r.id.empty()) out += "ID: " + one_line(r.id) + "\n";
  out += "Comments: " + msp_quoted("SMILES=" + r.smiles) + " " +
         msp_quoted("LPI={n+=" + std::to_string(c.n_plus) + ", n0=" + std::to_string(c.n_zero) +
                    ", n-=" + std::to_string(c.n_minus) + "}");
  if (r.model != prediction::Model::schematic) {
    out += ' ';
    out += msp_quoted(prediction::kEiModelComment);
  }
  if (const std::string options = options_text(r); !options.empty()) {
    out += ' ';
    out += msp_quoted("options=" + options);
  }
  out += "\n";
  out += "Num Peaks: " + std::to_string(r.peaks.size()) + "\n";
  for (const prediction::Peak& p : r.peaks) {
    out += std::to_string(p.mz) + " " + std::to_string(p.intensity) + " " + msp_quoted(peak_label(p, ", ")) + "\n";
  }
  out += "\n";
  return out;
}

std::string jsonl_record(const SpectrumRecord& r) {
  // Names read from files in other encodings must not stop the run.
  return record_json(r).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string csv_rows(const SpectrumRecord& r) {
  const std::string prefix =
      std::to_string(r.line) + "," + csv_field(one_line(r.name)) + "," + csv_field(r.smiles) + ",";
  std::string out;
  for (const prediction::Peak& p : r.peaks) {
    out +=
        prefix + std::to_string(p.mz) + "," + std::to_string(p.intensity) + "," + csv_field(peak_label(p, "; ")) + "\n";
  }
  return out;
}

std::string error_header() { return "line\tsmiles\treason\n"; }

std::string error_row(std::size_t line, std::string_view smiles, std::string_view reason) {
  return std::to_string(line) + "\t" + one_line(smiles) + "\t" + one_line(reason) + "\n";
}

OutputFile::OutputFile(std::string path, bool append) : path_(std::move(path)) {
  if (path_ == "-") {
    file_ = stdout;
    return;
  }
  file_ = std::fopen(path_.c_str(), append ? "abe" : "wbe");
  if (!file_) fail("cannot create");
  owned_ = true;
}

OutputFile::~OutputFile() {
  if (owned_ && file_) std::fclose(file_);
}

void OutputFile::write(std::string_view text) {
  if (!file_) throw std::runtime_error("cannot write " + path_ + ": the file is closed");
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail("cannot write");
}

void OutputFile::flush() {
  if (file_ && std::fflush(file_) != 0) fail("cannot write");
}

void OutputFile::close() {
  if (!file_) return;
  if (!owned_) {
    flush();
    file_ = nullptr;
    return;
  }
  std::FILE* f = file_;
  file_ = nullptr;
  const bool flushed = std::fflush(f) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!flushed) {
    errno = flush_errno;
    fail("cannot write");
  }
  if (!closed) fail("cannot close");
}

void OutputFile::fail(const char* what) const {
  throw std::runtime_error(std::string(what) + " " + path_ + ": " + std::strerror(errno));
}

}  // namespace tessarin::batch
