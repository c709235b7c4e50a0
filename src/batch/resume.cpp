#include "batch/resume.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "batch/library.h"
#include "core/line_source.h"
#include "core/output_file.h"

namespace tessarin::batch {
namespace {

using json = nlohmann::ordered_json;

json describe(const RunDescription& run) {
  const analysis::Options& o = run.options;
  json out{{"program", run.program},
           {"input", run.input},
           {"input_bytes", run.input_bytes ? json(*run.input_bytes) : json(nullptr)},
           {"lines", run.lines ? json::array({run.lines->first, run.lines->last}) : json(nullptr)},
           {"format", std::string(output_format_name(run.format))}};
  out["options"] = {{"ring", o.ring_fragmentation},         {"recursive", o.recursive},
                    {"max_generations", o.max_generations}, {"n_iter", o.n_iter},
                    {"target_bond_len", o.target_bond_len}, {"radius_ratio", o.radius_ratio},
                    {"bond_kappa", o.bond_kappa},           {"model", prediction::model_name(run.model)}};
  return out;
}

std::string shown(const json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ResumeRefused("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The whole lines of a file (each ending in a line break; a last line without
// one is not whole), read one at a time: a library may be far larger than
// memory.
class WholeLines {
 public:
  explicit WholeLines(const std::string& path) : source_(path) {}

  // The next whole line without its line break, valid until the next call;
  // false at the end.
  bool next(std::string_view& line) {
    const std::string* l = source_.next();
    if (l == nullptr || !source_.line_ended() || source_.truncated()) return false;
    line = *l;
    return true;
  }
  // Bytes up to the end of the line last returned, its line break included.
  std::uintmax_t offset() const { return source_.offset(); }

 private:
  core::LineSource source_;
};

// The number at the start of `s`, followed by `end` (or, for '\0', by
// nothing more).
std::optional<std::size_t> leading_number(std::string_view s, char end) {
  std::size_t value = 0;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10 + static_cast<std::size_t>(s[i] - '0');
  if (i == 0) return std::nullopt;
  if (end == '\0' ? i != s.size() : i >= s.size() || s[i] != end) return std::nullopt;
  return value;
}

struct FileState {
  std::size_t records = 0;
  std::vector<std::size_t> lines;  // when the format names them
  std::uintmax_t bytes = 0;

  // One more whole record, ending `end` bytes into the file; `line` is its
  // input line when the format names it.
  void add(std::uintmax_t end, std::optional<std::size_t> line = std::nullopt) {
    ++records;
    if (line) lines.push_back(*line);
    bytes = end;
  }
};

// True when the file's first line is the format's `header` (written with its
// line break); the state's bytes then end after it.
bool read_header(WholeLines& lines, const std::string& header, FileState& s) {
  std::string_view h(header);
  if (!h.empty() && h.back() == '\n') h.remove_suffix(1);
  std::string_view l;
  if (!lines.next(l) || l != h) return false;
  s.bytes = lines.offset();
  return true;
}

// MSP as the MSP writer writes it: "Name:" ... "Num Peaks: N", N peak lines, a blank line.
FileState scan_msp(WholeLines& lines) {
  FileState s;
  enum { start, header, peaks } state = start;
  std::size_t peaks_left = 0;
  for (std::string_view l; lines.next(l);) {
    switch (state) {
      case start:
        if (!l.starts_with("Name: ")) return s;
        state = header;
        break;
      case header:
        if (l.starts_with("Num Peaks: ")) {
          const std::optional<std::size_t> count = leading_number(l.substr(11), '\0');
          if (!count) return s;
          peaks_left = *count;
          state = peaks;
        } else if (l.empty()) {
          return s;
        }
        break;
      case peaks:
        if (peaks_left > 0) {
          if (l.empty()) return s;
          --peaks_left;
        } else {
          if (!l.empty()) return s;
          s.add(lines.offset());
          state = start;
        }
        break;
    }
  }
  return s;
}

// MGF as the MGF writer writes it: "BEGIN IONS" ... "END IONS", a blank line.
FileState scan_mgf(WholeLines& lines) {
  FileState s;
  enum { start, inside, ended } state = start;
  for (std::string_view l; lines.next(l);) {
    switch (state) {
      case start:
        if (l != "BEGIN IONS") return s;
        state = inside;
        break;
      case inside:
        if (l == "END IONS") state = ended;
        if (l.empty() || l == "BEGIN IONS") return s;
        break;
      case ended:
        if (!l.empty()) return s;
        s.add(lines.offset());
        state = start;
        break;
    }
  }
  return s;
}

FileState scan_jsonl(WholeLines& lines) {
  FileState s;
  for (std::string_view l; lines.next(l);) {
    const json row = json::parse(l, nullptr, /*allow_exceptions=*/false);
    if (!row.is_object() || !row.contains("line") || !row["line"].is_number_unsigned()) return s;
    s.add(lines.offset(), row["line"].get<std::size_t>());
  }
  return s;
}

// CSV rows of one record share its line number; the last group is counted
// only when something was written after it (`written_after`: the last line
// of the error file), since a hard kill may have cut it between two rows.
FileState scan_csv(WholeLines& lines, std::size_t written_after) {
  FileState s;
  if (!read_header(lines, output_header(OutputFormat::csv), s)) return s;
  std::uintmax_t before = s.bytes;  // where the current row starts
  std::optional<std::size_t> group;
  for (std::string_view l; lines.next(l);) {
    const std::optional<std::size_t> line = leading_number(l, ',');
    if (!line) break;
    if (line != group) {
      if (group) s.add(before, group);  // the previous group is whole: a later one follows
      group = line;
    }
    before = lines.offset();
  }
  if (group && written_after > *group) s.add(before, group);
  return s;
}

FileState scan_errors(WholeLines& lines) {
  FileState s;
  if (!read_header(lines, error_header(), s)) return s;
  for (std::string_view l; lines.next(l);) {
    const std::optional<std::size_t> line = leading_number(l, '\t');
    if (!line) break;
    s.add(lines.offset(), line);
  }
  return s;
}

}  // namespace

void describe_input_file(RunDescription& run, const std::string& path) {
  run.input = path;
  run.input_bytes.reset();
  if (path == "-") return;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (!error) run.input = absolute.lexically_normal().string();
  const std::uintmax_t bytes = std::filesystem::file_size(path, error);
  if (!error) run.input_bytes = bytes;
}

std::string run_record_path_of(const std::string& output_path) { return output_path + ".run.json"; }

void write_run_record(const std::string& output_path, const RunDescription& run) {
  const std::string path = run_record_path_of(output_path);
  const std::string temporary = path + ".part";
  {
    core::OutputFile out(temporary);
    out.write(describe(run).dump(2) + "\n");
    out.close();
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) throw std::runtime_error("cannot write " + path + ": " + error.message());
}

void check_run_record(const std::string& output_path, const RunDescription& run) {
  const std::string path = run_record_path_of(output_path);
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    throw ResumeRefused("cannot resume " + output_path + ": there is no " + path +
                        " to tell how it was made (run without resuming to start again)");
  }
  const json recorded = json::parse(read_file(path), nullptr, /*allow_exceptions=*/false);
  if (!recorded.is_object()) throw ResumeRefused("cannot resume " + output_path + ": " + path + " is damaged");
  const json wanted = describe(run);
  std::string was, now;
  auto differ = [&](const std::string& key, const json& a, const json& b) {
    if (a == b) return;
    was += (was.empty() ? "" : ", ") + key + " " + shown(a);
    now += (now.empty() ? "" : ", ") + key + " " + shown(b);
  };
  for (const auto& [key, value] : wanted.items()) {
    const json old = recorded.contains(key) ? recorded[key] : json(nullptr);
    if (key == "options" && value.is_object() && old.is_object()) {
      for (const auto& [option, setting] : value.items()) {
        differ(option, old.contains(option) ? old[option] : json(nullptr), setting);
      }
    } else {
      differ(key, old, value);
    }
  }
  if (!was.empty()) {
    throw ResumeRefused("cannot resume " + output_path + ": it was made with " + was + "; this run asks for " + now +
                        " (run without resuming to start again)");
  }
}

LibraryState read_library_state(const std::string& output_path, OutputFormat format) {
  LibraryState state;
  const std::string errors_path = errors_path_of(output_path);
  std::error_code ignored;
  FileState errors;
  if (std::filesystem::exists(errors_path, ignored)) {
    WholeLines lines(errors_path);
    errors = scan_errors(lines);
  }
  const std::size_t last_error_line = errors.lines.empty() ? 0 : errors.lines.back();

  FileState output;
  WholeLines lines(output_path);
  switch (format) {
    case OutputFormat::msp:
      output = scan_msp(lines);
      break;
    case OutputFormat::jsonl:
      output = scan_jsonl(lines);
      break;
    case OutputFormat::csv:
      output = scan_csv(lines, last_error_line);
      break;
    case OutputFormat::mgf:
      output = scan_mgf(lines);
      break;
  }
  state.molecules = output.records + errors.records;
  state.output_bytes = output.bytes;
  state.errors_bytes = errors.records > 0 ? errors.bytes : 0;
  state.every_line_known = format == OutputFormat::jsonl || format == OutputFormat::csv;
  state.lines = errors.lines;
  state.lines.insert(state.lines.end(), output.lines.begin(), output.lines.end());
  std::sort(state.lines.begin(), state.lines.end());
  if (std::adjacent_find(state.lines.begin(), state.lines.end()) != state.lines.end()) {
    throw ResumeRefused("cannot resume " + output_path + ": its files name one input line twice");
  }
  return state;
}

}  // namespace tessarin::batch
