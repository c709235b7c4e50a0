// NIST MSP: "Field: value" lines, "Num Peaks: N", then N peaks, a blank line.
#include <algorithm>
#include <string>
#include <string_view>

#include "spectra/record_parsers.h"
#include "spectra/text.h"
#include "spectra/writer.h"

namespace tessarin::spectra {
namespace {

// MSP field (reduced with text::field_key) -> metadata key.
struct FieldMap {
  std::string_view field;
  std::string_view key;
};
constexpr FieldMap kFields[] = {
    {"name", keys::name},
    {"synon", keys::synonyms},
    {"synonym", keys::synonyms},
    {"formula", keys::formula},
    {"mw", keys::mol_mass},
    {"exactmass", keys::exact_mass},
    {"precursormz", keys::precursor_mz},
    {"precursorintensity", keys::precursor_intensity},
    {"smiles", keys::smiles},
    {"comment", keys::comments},
    {"comments", keys::comments},
    {"instrumenttype", keys::instrument},
    {"instrument", keys::instrument},
    {"db#", keys::accession},
    {"accession", keys::accession},
};

// Metadata key -> the field the writer gives it.
constexpr FieldMap kWriteNames[] = {
    {keys::synonyms, "Synon"},
    {keys::formula, "Formula"},
    {keys::mol_mass, "MW"},
    {keys::exact_mass, "ExactMass"},
    {keys::precursor_mz, "PrecursorMZ"},
    {keys::precursor_intensity, "Precursor_intensity"},
    {keys::instrument, "Instrument_type"},
    {keys::accession, "DB#"},
};

std::string_view key_of_field(std::string_view reduced) {
  for (const FieldMap& f : kFields) {
    if (f.field == reduced) return f.key;
  }
  return {};
}

bool starts_like_number(std::string_view t) {
  return !t.empty() && ((t[0] >= '0' && t[0] <= '9') || t[0] == '.' || t[0] == '-' || t[0] == '+');
}

// A line of peaks: a number first (finite or not: a NaN peak is refused as
// such), or "(" as AMDIS writes "(41 36) (42 17)".
bool starts_like_peaks(std::string_view t) {
  return starts_like_number(t) || (!t.empty() && t[0] == '(') || detail::starts_with_non_finite_number(t);
}

bool is_name_line(std::string_view t) {
  const std::size_t colon = t.find(':');
  return colon != std::string_view::npos && text::field_key(t.substr(0, colon)) == "name";
}

std::string shorten(std::string_view t) {
  return t.size() <= 60 ? std::string(t) : std::string(t.substr(0, 57)) + "...";
}

// Moves a "SMILES=..." token out of the comments into the smiles field (as
// NIST, MoNA and tessarin put the structure there).
void take_smiles_from_comments(Metadata& metadata) {
  if (metadata.contains(keys::smiles)) return;
  const std::string* comments = metadata.find(keys::comments);
  if (!comments) return;
  const std::string& c = *comments;
  bool in_quotes = false;
  for (std::size_t i = 0; i < c.size(); ++i) {
    const bool quoted = c[i] == '"' && !in_quotes;
    if (c[i] == '"') in_quotes = !in_quotes;
    if (in_quotes && !quoted) continue;  // inside a quoted comment
    const std::size_t start = quoted ? i + 1 : i;
    if (i > 0 && !(c[i - 1] == ' ' || c[i - 1] == '\t' || c[i - 1] == '\n')) continue;
    if (!text::istarts_with(std::string_view(c).substr(start), "SMILES=")) continue;
    const std::size_t value_start = start + 7;
    std::size_t value_end = quoted ? c.find('"', value_start) : c.find_first_of(" \t\n", value_start);
    if (value_end == std::string::npos) value_end = c.size();
    const std::string smiles = c.substr(value_start, value_end - value_start);
    std::size_t token_end = quoted && value_end < c.size() ? value_end + 1 : value_end;
    std::size_t token_start = i;
    // Take one blank with the token so that the rest reads as before.
    if (token_end < c.size() && c[token_end] == ' ') {
      ++token_end;
    } else if (token_start > 0 && c[token_start - 1] == ' ') {
      --token_start;
    }
    std::string rest = c.substr(0, token_start) + c.substr(token_end);
    if (text::trim(smiles).empty()) return;
    metadata.set(keys::smiles, std::string(text::trim(smiles)));
    if (text::is_blank(rest)) {
      metadata.erase(keys::comments);
    } else {
      metadata.set(keys::comments, std::move(rest));
    }
    return;
  }
}

class MspParser final : public detail::RecordParser {
 public:
  using RecordParser::RecordParser;

 protected:
  bool parse(Spectrum& out) override {
    const std::string* l = record_start('#');
    if (!l) return false;

    std::size_t declared = 0;
    for (;;) {
      const std::string_view t = text::trim(*l);
      if (t.empty()) {
        source_.unread();  // the blank line ends this record, not the next
        fail("the record ends before its Num Peaks line");
      }
      if (t[0] != '#') {
        const std::size_t colon = t.find(':');
        if (colon == std::string_view::npos || colon == 0) {
          fail("expected 'Field: value' or 'Num Peaks: N', found '" + shorten(t) + "'");
        }
        const std::string_view field = text::trim(t.substr(0, colon));
        const std::string_view value = text::trim(t.substr(colon + 1));
        const std::string reduced = text::field_key(field);
        if (reduced == "numpeaks") {
          const std::optional<double> n = text::parse_number(value);
          if (!n || *n < 0 || *n != static_cast<double>(static_cast<long long>(*n)) || *n > 1e9) {
            fail("Num Peaks must be a whole number, found '" + shorten(value) + "'");
          }
          declared = static_cast<std::size_t>(*n);
          break;
        }
        if (reduced == "name" && out.metadata.contains(keys::name)) {
          source_.unread();
          fail("a new record (Name:) starts before the Num Peaks line of this one");
        }
        add_field(out.metadata, field, reduced, value);
      }
      l = line();
      if (!l) fail("the file ends before the Num Peaks line");
    }

    out.mz.reserve(std::min<std::size_t>(declared, 4096));
    while (out.mz.size() < declared) {
      l = line();
      const std::string_view t = l ? text::trim(*l) : std::string_view();
      if (!l || t.empty() || !starts_like_peaks(t)) {
        if (l && !t.empty() && t[0] == '#') continue;
        if (l) source_.unread();
        fail("Num Peaks is " + std::to_string(declared) + " but the record has " + std::to_string(out.mz.size()) +
             " peaks");
      }
      read_peaks(t, out);
    }
    if (out.mz.size() > declared) fail("more peaks than Num Peaks (" + std::to_string(declared) + ")");
    while ((l = line()) != nullptr) {
      const std::string_view t = text::trim(*l);
      if (t.empty()) break;
      if (t[0] == '#') continue;
      if (starts_like_peaks(t)) fail("more peaks than Num Peaks (" + std::to_string(declared) + ")");
      source_.unread();  // the next record, without a blank line between
      break;
    }
    take_smiles_from_comments(out.metadata);
    out.sort_peaks();
    return true;
  }

  void skip_rest() override {
    while (const std::string* l = source_.next()) {
      const std::string_view t = text::trim(*l);
      if (t.empty()) return;
      if (is_name_line(t)) {
        source_.unread();
        return;
      }
    }
  }

 private:
  static void add_field(Metadata& m, std::string_view field, const std::string& reduced, std::string_view value) {
    const std::string_view key = key_of_field(reduced);
    if (key == keys::synonyms || key == keys::comments) {
      m.append(key, value);
    } else if (!key.empty() && !m.contains(key)) {
      m.set(key, std::string(value));
    } else {
      m.append(field, value);
    }
  }

  // Pairs "mz intensity", each optionally followed by an annotation (quoted,
  // or bare text up to the next ';'), separated by blanks, tabs, ';', ',' or
  // parentheses.
  void read_peaks(std::string_view t, Spectrum& out) {
    std::size_t pos = 0;
    for (;;) {
      while (pos < t.size() && detail::is_peak_separator(t[pos])) ++pos;
      if (pos >= t.size()) return;
      double mz = 0;
      double intensity = 0;
      if (t[pos] == '"' || !detail::read_number(source_, t, pos, mz)) fail("unreadable peak in '" + shorten(t) + "'");
      if (!detail::read_number(source_, t, pos, intensity)) fail("m/z " + text::number_text(mz) + " has no intensity");
      detail::check_peak(source_, mz, intensity);
      out.mz.push_back(mz);
      out.intensities.push_back(intensity);
      out.annotations.emplace_back();
      while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
      if (pos >= t.size()) return;
      if (t[pos] == '"') {
        std::size_t close = t.find('"', pos + 1);
        if (close == std::string_view::npos) close = t.size();
        out.annotations.back() = detail::split_annotation(t.substr(pos + 1, close - pos - 1));
        pos = std::min(close + 1, t.size());
      } else if (!starts_like_number(t.substr(pos)) && !detail::is_peak_separator(t[pos])) {
        std::size_t end = t.find(';', pos);
        if (end == std::string_view::npos) end = t.size();
        out.annotations.back() = detail::split_annotation(t.substr(pos, end - pos));
        pos = end;
      }
    }
  }
};

void write_field(std::string& out, std::string_view field, std::string_view value) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find('\n', start);
    out += field;
    out += ": ";
    out += detail::one_line(value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    out += '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

}  // namespace

namespace detail {
std::unique_ptr<RecordParser> make_msp_parser(LineSource& source) { return std::make_unique<MspParser>(source); }
}  // namespace detail

std::string msp_record(const Spectrum& s) {
  s.check();
  const Metadata& m = s.metadata;
  std::string out;
  std::string name = detail::one_line(m.get(keys::name));
  if (name.empty()) name = detail::one_line(m.get(keys::smiles));
  if (name.empty()) name = detail::one_line(m.get(keys::accession));
  if (name.empty()) name = "unnamed";
  out += "Name: " + name + "\n";
  for (const auto& [key, value] : m.entries()) {
    if (key == keys::name || key == keys::smiles || key == keys::comments) continue;
    std::string field;
    for (const FieldMap& f : kWriteNames) {
      if (f.field == key) field = std::string(f.key);
    }
    if (field.empty()) {
      field = detail::one_line(key);
      std::replace(field.begin(), field.end(), ':', '_');
      const std::string reduced = text::field_key(field);
      // Fields the record structure owns are the writer's alone.
      if (field.empty() || reduced == "numpeaks" || reduced == "name") continue;
    }
    write_field(out, field, value);
  }
  const std::string smiles = detail::one_line(m.get(keys::smiles));
  const std::string* comments = m.find(keys::comments);
  if (!smiles.empty() || comments) {
    std::string value = smiles.empty() ? std::string() : quoted_text("SMILES=" + smiles);
    if (comments) {
      if (!value.empty() && !comments->empty()) value += ' ';
      value += *comments;
    }
    write_field(out, "Comments", value);
  }
  out += "Num Peaks: " + std::to_string(s.size()) + "\n";
  detail::append_peak_lines(out, s);
  out += '\n';
  return out;
}

}  // namespace tessarin::spectra
