#include "spectra/reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/line_source.h"
#include "spectra/record_parsers.h"
#include "spectra/text.h"
#include "spectra/writer.h"

namespace tessarin::spectra {

std::string_view format_name(Format format) {
  switch (format) {
    case Format::msp:
      return "msp";
    case Format::massbank:
      return "massbank";
    case Format::jcamp:
      return "jcamp";
    case Format::mgf:
      return "mgf";
    case Format::jsonl:
      return "jsonl";
    case Format::csv:
      return "csv";
  }
  return "";
}

std::optional<Format> format_named(std::string_view name) {
  for (Format f : {Format::msp, Format::massbank, Format::jcamp, Format::mgf, Format::jsonl, Format::csv}) {
    if (name == format_name(f)) return f;
  }
  return std::nullopt;
}

std::optional<Format> format_from_extension(std::string_view path) {
  std::string name = text::lower(std::filesystem::path(path).filename().string());
  if (name.size() > 3 && name.ends_with(".gz")) name.resize(name.size() - 3);  // told by the name it compresses
  const std::string ext = std::filesystem::path(name).extension().string();
  if (ext == ".msp" || ext == ".msl") return Format::msp;
  if (ext == ".mgf") return Format::mgf;
  if (ext == ".jsonl" || ext == ".ndjson" || ext == ".json") return Format::jsonl;
  if (ext == ".jdx" || ext == ".dx" || ext == ".jcamp") return Format::jcamp;
  if (ext == ".csv") return Format::csv;
  return std::nullopt;
}

std::optional<Format> format_from_content(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  bool mgf_parameters = false;
  std::size_t pos = 0;
  while (pos < head.size()) {
    std::size_t end = head.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view line = text::trim(head.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.substr(0, 2) == "##") return Format::jcamp;
    if (line.front() == '#') continue;
    if (text::iequals(line, "BEGIN IONS")) return Format::mgf;
    if (mgf_parameters) continue;  // global MGF parameters until BEGIN IONS
    if (line.front() == '{') return Format::jsonl;
    if (text::istarts_with(line, "ACCESSION:") || line.substr(0, 3) == "CH$" || line.substr(0, 3) == "AC$") {
      return Format::massbank;
    }
    const std::size_t colon = line.find(':');
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos && (colon == std::string_view::npos || equals < colon)) {
      mgf_parameters = true;
      continue;
    }
    if (colon != std::string_view::npos && colon > 0) return Format::msp;
    return std::nullopt;
  }
  return std::nullopt;
}

RecordError::RecordError(std::string path, std::size_t line, std::string reason)
    : InvalidInput(path + ":" + std::to_string(line) + ": " + reason),
      path_(std::move(path)),
      line_(line),
      reason_(std::move(reason)) {}

namespace detail {

bool RecordParser::next(Spectrum& out) {
  out = Spectrum{};
  try {
    return parse(out);
  } catch (const ParseFault& fault) {
    skip_rest();
    throw RecordError(source_.path(), fault.line, fault.reason);
  }
}

const std::string* RecordParser::line() {
  const std::string* l = source_.next();
  if (l && source_.truncated()) fail("line longer than 64 MiB");
  return l;
}

const std::string* RecordParser::record_start(char comment) {
  for (;;) {
    const std::string* l = line();
    if (!l) return nullptr;
    const std::string_view t = text::trim(*l);
    if (t.empty() || (comment != '\0' && t.front() == comment)) continue;
    record_line_ = source_.line_number();
    return l;
  }
}

void RecordParser::fail(std::string reason) const { throw ParseFault{source_.line_number(), std::move(reason)}; }

void RecordParser::fail_at(std::size_t line, std::string reason) const { throw ParseFault{line, std::move(reason)}; }

void check_peak(const LineSource& source, double mz, double intensity) {
  if (mz < 0) throw ParseFault{source.line_number(), "negative m/z " + text::number_text(mz)};
  if (intensity < 0) throw ParseFault{source.line_number(), "negative intensity " + text::number_text(intensity)};
}

bool is_non_finite_number(std::string_view token) {
  const std::string t(text::trim(token));
  if (t.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && !std::isfinite(v);
}

std::string not_finite_reason(std::string_view token) {
  const std::string_view t = text::trim(token);
  const std::string shown = t.size() <= 40 ? std::string(t) : std::string(t.substr(0, 37)) + "...";
  return "the value '" + shown + "' is not a finite number";
}

bool starts_with_non_finite_number(std::string_view line) {
  const std::string_view t = text::trim(line);
  std::size_t end = 0;
  while (end < t.size() && !is_peak_separator(t[end]) && t[end] != '=' && t[end] != '"') ++end;
  return is_non_finite_number(t.substr(0, end));
}

bool is_peak_separator(char c) {
  return c == ' ' || c == '\t' || c == ';' || c == ',' || c == ':' || c == '(' || c == ')';
}

bool read_number(const LineSource& source, std::string_view s, std::size_t& pos, double& value) {
  while (pos < s.size() && is_peak_separator(s[pos])) ++pos;
  std::size_t end = pos;
  while (end < s.size() && !is_peak_separator(s[end]) && s[end] != '"') ++end;
  if (end == pos) return false;
  const std::string_view token = s.substr(pos, end - pos);
  const std::optional<double> v = text::parse_number(token);
  if (!v) {
    if (is_non_finite_number(token)) throw ParseFault{source.line_number(), not_finite_reason(token)};
    return false;
  }
  value = *v;
  pos = end;
  return true;
}

std::vector<std::string> split_annotation(std::string_view text) { return text::split_trimmed(text, ','); }

std::string flattened(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return out;
}

std::string one_line(std::string_view s) { return flattened(text::trim(s)); }

std::string annotation_text(const std::vector<std::string>& parts) { return quoted_text(text::join(parts, ", ")); }

}  // namespace detail

namespace {
// Spectrum files are read as UTF-8, whatever their encoding (text::append_utf8).
const core::LineSource::Options kText{core::LineSource::Text::utf8};
}  // namespace

struct SpectrumReader::State {
  Format format = Format::msp;
  std::vector<std::string> files;  // a directory's files; empty for one file
  std::size_t next_file = 0;
  std::unique_ptr<core::LineSource> source;
  std::unique_ptr<detail::RecordParser> parser;
  std::string record_path;
  std::size_t record_line = 0;

  void open(const std::string& path) {
    parser.reset();
    source = std::make_unique<core::LineSource>(path, kText);
    attach();
  }

  // A parser of `format` for `source`.
  void attach() {
    switch (format) {
      case Format::msp:
        parser = detail::make_msp_parser(*source);
        break;
      case Format::massbank:
        parser = detail::make_massbank_parser(*source);
        break;
      case Format::jcamp:
        parser = detail::make_jcamp_parser(*source);
        break;
      case Format::mgf:
        parser = detail::make_mgf_parser(*source);
        break;
      case Format::jsonl:
        parser = detail::make_jsonl_parser(*source);
        break;
      case Format::csv:
        throw InvalidInput("spectra are written to CSV peak tables, not read from them: " + source->path());
    }
  }
};

SpectrumReader::SpectrumReader(const std::string& path, std::optional<Format> format)
    : state_(std::make_unique<State>()) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (path != "-" && fs::is_directory(path, ec)) {
    if (format && *format != Format::massbank) {
      throw UnusableFile(path + " is a directory: only MassBank record files are read from a directory", path, EISDIR);
    }
    state_->format = Format::massbank;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    if (ec) throw UnusableFile("cannot read the directory " + path + ": " + ec.message(), path, ec.value());
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
      if (ec) throw UnusableFile("cannot read the directory " + path + ": " + ec.message(), path, ec.value());
      if (it->is_regular_file(ec) && text::lower(it->path().extension().string()) == ".txt") {
        state_->files.push_back(it->path().string());
      }
    }
    std::sort(state_->files.begin(), state_->files.end());
    state_->record_path = path;
    return;
  }
  if (!format) format = format_from_extension(path);
  if (format) {
    state_->format = *format;
    state_->open(path);
  } else {
    state_->source = std::make_unique<core::LineSource>(path, kText);
    const std::optional<Format> found = format_from_content(state_->source->head(std::size_t{1} << 16));
    if (!found) {
      throw InvalidInput("cannot tell the format of " + path +
                         " (MSP, MassBank, JCAMP-DX, MGF or JSON Lines); name the format");
    }
    state_->format = *found;
    state_->attach();  // head() consumed nothing: the parser starts at the first line
  }
  state_->record_path = path;
}

SpectrumReader::~SpectrumReader() = default;
SpectrumReader::SpectrumReader(SpectrumReader&&) noexcept = default;
SpectrumReader& SpectrumReader::operator=(SpectrumReader&&) noexcept = default;

Format SpectrumReader::format() const { return state_->format; }
const std::string& SpectrumReader::record_path() const { return state_->record_path; }
std::size_t SpectrumReader::record_line() const { return state_->record_line; }

bool SpectrumReader::next(Spectrum& out) {
  State& s = *state_;
  for (;;) {
    if (!s.parser) {
      if (s.next_file >= s.files.size()) return false;
      const std::string& file = s.files[s.next_file++];
      s.record_path = file;
      s.record_line = 0;
      try {
        s.open(file);
      } catch (const InvalidInput& e) {
        throw RecordError(file, 0, e.what());
      }
    }
    try {
      const bool got = s.parser->next(out);
      s.record_line = s.parser->record_line();
      if (got) return true;
    } catch (const RecordError&) {
      s.record_line = s.parser->record_line();
      throw;
    }
    if (s.files.empty()) return false;
    s.parser.reset();
    s.source.reset();
  }
}

std::vector<Spectrum> read_spectra(const std::string& path, std::optional<Format> format,
                                   std::vector<RecordError>* errors) {
  SpectrumReader reader(path, format);
  std::vector<Spectrum> out;
  Spectrum s;
  for (;;) {
    try {
      if (!reader.next(s)) break;
      out.push_back(std::move(s));
    } catch (const RecordError& e) {
      if (!errors) throw;
      errors->push_back(e);
    }
  }
  return out;
}

}  // namespace tessarin::spectra
