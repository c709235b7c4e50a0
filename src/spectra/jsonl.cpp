// JSON Lines: one object per line with a "peaks" list, either of
// {"mz", "intensity", "formula"} objects (tessarin's batch records) or of
// [mz, intensity] pairs; every other member is metadata.
#include <nlohmann/json.hpp>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "spectra/record_parsers.h"
#include "spectra/text.h"
#include "spectra/writer.h"

namespace tessarin::spectra {
namespace {

using json = nlohmann::ordered_json;

// Nesting deeper than this is refused before parsing (junk, not spectra).
constexpr int kMaxDepth = 64;

struct FieldMap {
  std::string_view member;
  std::string_view key;
};
constexpr FieldMap kMembers[] = {
    {"name", keys::name},
    {"synonyms", keys::synonyms},
    {"smiles", keys::smiles},
    {"formula", keys::formula},
    {"mol_mass", keys::mol_mass},
    {"nominal_mass", keys::mol_mass},
    {"exact_mass", keys::exact_mass},
    {"precursor_mz", keys::precursor_mz},
    {"precursor_intensity", keys::precursor_intensity},
    {"instrument", keys::instrument},
    {"instrument_type", keys::instrument},
    {"accession", keys::accession},
    {"comments", keys::comments},
};

// Keys whose value is text: written as JSON strings (synonyms as a list).
bool is_text_key(std::string_view key) {
  return key == keys::name || key == keys::synonyms || key == keys::smiles || key == keys::formula ||
         key == keys::instrument || key == keys::accession || key == keys::comments;
}

// Calls `at(i)` for each position i of JSON text `s` outside its strings
// (their quotes and escapes passed over); `at` may move i on to the last
// character it has dealt with, and returns true to stop the walk.
template <typename At>
void outside_strings(std::string_view s, At at) {
  bool in_string = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (at(i)) {
      return;
    }
  }
}

bool too_deep(std::string_view s) {
  int depth = 0;
  bool deep = false;
  outside_strings(s, [&](std::size_t& i) {
    const char c = s[i];
    if (c == '[' || c == '{') {
      deep = ++depth > kMaxDepth;
    } else if (c == ']' || c == '}') {
      --depth;
    }
    return deep;
  });
  return deep;
}

// The first number of a JSON line, outside its strings, that is not finite
// ("NaN", "-Infinity", "1e999"); nothing when there is none.
std::optional<std::string> non_finite_token(std::string_view s) {
  const auto is_token_char = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '+' ||
           c == '-';
  };
  std::optional<std::string> found;
  outside_strings(s, [&](std::size_t& i) {
    if (!is_token_char(s[i])) return false;
    std::size_t end = i;
    while (end < s.size() && is_token_char(s[end])) ++end;
    const std::string_view token = s.substr(i, end - i);
    if (detail::is_non_finite_number(token)) {
      found = std::string(token);
      return true;
    }
    i = end - 1;
    return false;
  });
  return found;
}

// Metadata text of a member's value: strings as they are, a list of strings
// for a text key one per line, anything else as compact JSON.
std::string value_text(std::string_view key, const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (is_text_key(key) && v.is_array() && !v.empty()) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (!v[i].is_string()) return v.dump();
      if (i) out += '\n';
      out += v[i].get<std::string>();
    }
    return out;
  }
  return v.dump();
}

class JsonlParser final : public detail::RecordParser {
 public:
  using RecordParser::RecordParser;

 protected:
  bool parse(Spectrum& out) override {
    const std::string* l = record_start();
    if (!l) return false;
    if (too_deep(*l)) fail("JSON nested more than " + std::to_string(kMaxDepth) + " levels deep");
    const json record = json::parse(*l, nullptr, false);
    if (record.is_discarded()) {
      // Python's json module writes NaN and Infinity, which JSON has not.
      if (const std::optional<std::string> bad = non_finite_token(*l)) fail(detail::not_finite_reason(*bad));
      fail("not valid JSON");
    }
    line_ = l;
    if (!record.is_object()) fail("a record must be a JSON object");
    const auto peaks = record.find("peaks");
    if (peaks == record.end() || !peaks->is_array()) fail("the record has no \"peaks\" list");
    for (const json& p : *peaks) read_peak(p, out);
    for (const auto& [member, value] : record.items()) {
      if (member == "peaks") continue;
      std::string_view key;
      for (const FieldMap& f : kMembers) {
        if (f.member == member) key = f.key;
      }
      if (key.empty() || out.metadata.contains(key)) key = member;
      if (out.metadata.contains(key)) continue;  // a member named twice: the first counts
      out.metadata.set(key, value_text(key, value));
    }
    out.sort_peaks();
    return true;
  }

  void skip_rest() override {}  // one line, one record

 private:
  void read_peak(const json& p, Spectrum& out) {
    const json* mz = nullptr;
    const json* intensity = nullptr;
    const json* annotation = nullptr;
    if (p.is_array() && (p.size() == 2 || p.size() == 3)) {
      mz = &p[0];
      intensity = &p[1];
      if (p.size() == 3) annotation = &p[2];
    } else if (p.is_object()) {
      const auto m = p.find("mz");
      const auto i = p.find("intensity");
      if (m != p.end()) mz = &*m;
      if (i != p.end()) intensity = &*i;
      for (const char* name : {"formula", "annotation"}) {
        const auto a = p.find(name);
        if (a != p.end() && !annotation) annotation = &*a;
      }
    }
    if (!mz || !intensity) fail("a peak must be [mz, intensity] or {\"mz\": ..., \"intensity\": ...}");
    if (!mz->is_number() || !intensity->is_number()) fail("peak values must be numbers");
    const double m = mz->get<double>();
    const double in = intensity->get<double>();
    if (!std::isfinite(m) || !std::isfinite(in)) {
      const std::optional<std::string> bad = non_finite_token(*line_);
      fail(bad ? detail::not_finite_reason(*bad) : std::string("peak values must be finite numbers"));
    }
    detail::check_peak(source_, m, in);
    std::vector<std::string> parts;
    if (annotation && annotation->is_string()) {
      if (!annotation->get<std::string>().empty()) parts.push_back(annotation->get<std::string>());
    } else if (annotation && annotation->is_array()) {
      for (const json& a : *annotation) {
        if (!a.is_string()) fail("peak annotations must be strings");
        if (!a.get<std::string>().empty()) parts.push_back(a.get<std::string>());
      }
    } else if (annotation && !annotation->is_null()) {
      fail("a peak's formula must be a string or a list of strings");
    }
    out.mz.push_back(m);
    out.intensities.push_back(in);
    out.annotations.push_back(std::move(parts));
  }

  const std::string* line_ = nullptr;  // the record's line
};

void append_json_string(std::string& out, std::string_view s) {
  static const char* hex = "0123456789abcdef";
  out += '"';
  const std::string utf8 = text::is_ascii(s) ? std::string() : text::to_utf8(s);
  for (char c : utf8.empty() ? s : std::string_view(utf8)) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += hex[(c >> 4) & 0xF];
          out += hex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// A metadata value as JSON: the JSON text itself when the value is the
// compact JSON of a number, list, object, true, false or null (as the reader
// stores such members), else a string.
void append_metadata_value(std::string& out, std::string_view key, const std::string& value) {
  if (key == keys::synonyms && value.find('\n') != std::string::npos) {
    out += '[';
    const std::vector<std::string> lines = [&] {
      std::vector<std::string> parts;
      std::size_t start = 0;
      for (;;) {
        const std::size_t end = value.find('\n', start);
        parts.push_back(value.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return parts;
    }();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i) out += ", ";
      append_json_string(out, lines[i]);
    }
    out += ']';
    return;
  }
  if (!is_text_key(key) && !value.empty() && !too_deep(value)) {
    const json parsed = json::parse(value, nullptr, false);
    if (!parsed.is_discarded() && !parsed.is_string() && parsed.dump() == value) {
      out += value;
      return;
    }
  }
  append_json_string(out, value);
}

}  // namespace

namespace detail {
std::unique_ptr<RecordParser> make_jsonl_parser(LineSource& source) { return std::make_unique<JsonlParser>(source); }
}  // namespace detail

std::string jsonl_record(const Spectrum& s) {
  s.check();
  std::string out = "{";
  for (const auto& [key, value] : s.metadata.entries()) {
    if (key == "peaks") continue;
    append_json_string(out, key);
    out += ": ";
    append_metadata_value(out, key, value);
    out += ", ";
  }
  out += "\"peaks\": [";
  bool annotated = false;
  for (const auto& a : s.annotations) annotated = annotated || !a.empty();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i) out += ", ";
    if (annotated) {
      out += "{\"mz\": " + text::number_text(s.mz[i]) + ", \"intensity\": " + text::number_text(s.intensities[i]) +
             ", \"formula\": ";
      const std::vector<std::string>& a = s.annotations[i];
      if (a.size() == 1) {
        append_json_string(out, a[0]);
      } else if (a.empty()) {
        out += "\"\"";
      } else {
        out += '[';
        for (std::size_t k = 0; k < a.size(); ++k) {
          if (k) out += ", ";
          append_json_string(out, a[k]);
        }
        out += ']';
      }
      out += '}';
    } else {
      out += '[' + text::number_text(s.mz[i]) + ", " + text::number_text(s.intensities[i]) + ']';
    }
  }
  out += "]}\n";
  return out;
}

}  // namespace tessarin::spectra
