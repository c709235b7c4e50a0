// Mascot generic format: BEGIN IONS, KEY=value lines, "mz intensity" lines,
// END IONS. Parameters outside a record (global CHARGE=, MASS=) are skipped.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <string_view>

#include "spectra/record_parsers.h"
#include "spectra/text.h"
#include "spectra/writer.h"

namespace tessarin::spectra {
namespace {

struct FieldMap {
  std::string_view field;  // reduced with text::field_key
  std::string_view key;
};
constexpr FieldMap kFields[] = {
    {"title", keys::name},
    {"name", keys::name},
    {"synon", keys::synonyms},
    {"synonyms", keys::synonyms},
    {"smiles", keys::smiles},
    {"formula", keys::formula},
    {"mw", keys::mol_mass},
    {"molmass", keys::mol_mass},
    {"exactmass", keys::exact_mass},
    {"precursorintensity", keys::precursor_intensity},
    {"instrument", keys::instrument},
    {"instrumenttype", keys::instrument},
    {"sourceinstrument", keys::instrument},
    {"accession", keys::accession},
    {"comment", keys::comments},
    {"comments", keys::comments},
};

constexpr FieldMap kWriteNames[] = {
    {keys::name, "TITLE"},
    {keys::synonyms, "SYNON"},
    {keys::smiles, "SMILES"},
    {keys::formula, "FORMULA"},
    {keys::mol_mass, "MW"},
    {keys::exact_mass, "EXACTMASS"},
    {keys::instrument, "INSTRUMENT"},
    {keys::accession, "ACCESSION"},
    {keys::comments, "COMMENTS"},
    {keys::precursor_intensity, "PRECURSOR_INTENSITY"},
};

bool starts_like_number(std::string_view t) {
  return !t.empty() && ((t[0] >= '0' && t[0] <= '9') || t[0] == '.' || t[0] == '-' || t[0] == '+');
}

// A field that MGF files hold as it is: a name of letters, digits and '_'
// starting with a capital (CHARGE, SCANS, SPECTRUMID, InChIKey), whose value
// is text rather than a JSON list or object.
bool is_mgf_parameter(std::string_view key, std::string_view value) {
  if (key.empty() || key[0] < 'A' || key[0] > 'Z') return false;
  for (char c : key) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  const std::string_view v = text::trim(value);
  const bool structure = !v.empty() && (v.front() == '[' || v.front() == '{') && nlohmann::json::accept(v);
  return !structure;
}

std::string shorten(std::string_view t) {
  return t.size() <= 60 ? std::string(t) : std::string(t.substr(0, 57)) + "...";
}

class MgfParser final : public detail::RecordParser {
 public:
  using RecordParser::RecordParser;

 protected:
  bool parse(Spectrum& out) override {
    const std::string* l = nullptr;
    for (;;) {
      l = record_start('#');
      if (!l) return false;
      const std::string_view t = text::trim(*l);
      if (text::iequals(t, "BEGIN IONS")) break;
      if (t.find('=') != std::string_view::npos) continue;  // a global parameter
      fail("expected BEGIN IONS, found '" + shorten(t) + "'");
    }
    for (;;) {
      l = line();
      if (!l) fail_at(record_line_, "the record has no END IONS");
      const std::string_view t = text::trim(*l);
      if (t.empty() || t[0] == '#') continue;
      if (text::iequals(t, "END IONS")) break;
      if (text::iequals(t, "BEGIN IONS")) {
        source_.unread();
        fail_at(record_line_, "the record has no END IONS");
      }
      if (starts_like_number(t) || detail::starts_with_non_finite_number(t)) {
        read_peak(t, out);
        continue;
      }
      const std::size_t eq = t.find('=');
      if (eq == std::string_view::npos || eq == 0) fail("expected KEY=value or a peak, found '" + shorten(t) + "'");
      add_field(out.metadata, text::trim(t.substr(0, eq)), text::trim(t.substr(eq + 1)));
    }
    out.sort_peaks();
    return true;
  }

  void skip_rest() override {
    while (const std::string* l = source_.next()) {
      const std::string_view t = text::trim(*l);
      if (text::iequals(t, "END IONS")) return;
      if (text::iequals(t, "BEGIN IONS")) {
        source_.unread();
        return;
      }
    }
  }

 private:
  void add_field(Metadata& m, std::string_view field, std::string_view value) {
    const std::string reduced = text::field_key(field);
    if (reduced == "pepmass" && !m.contains(keys::precursor_mz)) {
      // "PEPMASS=mz [intensity [charge]]"
      std::size_t pos = 0;
      double mz = 0;
      double intensity = 0;
      if (!detail::read_number(source_, value, pos, mz))
        fail("PEPMASS must start with a number, found '" + shorten(value) + "'");
      m.set(keys::precursor_mz, text::number_text(mz));
      if (detail::read_number(source_, value, pos, intensity))
        m.set(keys::precursor_intensity, text::number_text(intensity));
      return;
    }
    std::string_view key;
    for (const FieldMap& f : kFields) {
      if (f.field == reduced) key = f.key;
    }
    if (key == keys::synonyms || key == keys::comments) {
      m.append(key, value);
    } else if (!key.empty() && !m.contains(key)) {
      m.set(key, std::string(value));
    } else {
      m.append(field, value);
    }
  }

  void read_peak(std::string_view t, Spectrum& out) {
    std::size_t pos = 0;
    double mz = 0;
    double intensity = 0;
    if (!detail::read_number(source_, t, pos, mz)) fail("unreadable peak '" + shorten(t) + "'");
    if (!detail::read_number(source_, t, pos, intensity)) fail("m/z " + text::number_text(mz) + " has no intensity");
    detail::check_peak(source_, mz, intensity);
    std::string_view rest = text::trim(t.substr(pos));
    if (!rest.empty() && rest.front() == '"') {
      rest.remove_prefix(1);
      if (!rest.empty() && rest.back() == '"') rest.remove_suffix(1);
    }
    out.mz.push_back(mz);
    out.intensities.push_back(intensity);
    out.annotations.push_back(detail::split_annotation(rest));
  }
};

}  // namespace

namespace detail {
std::unique_ptr<RecordParser> make_mgf_parser(LineSource& source) { return std::make_unique<MgfParser>(source); }
}  // namespace detail

std::string mgf_record(const Spectrum& s) {
  s.check();
  const Metadata& m = s.metadata;
  std::string out = "BEGIN IONS\n";
  const auto write_lines = [&out](std::string_view field, std::string_view value) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = value.find('\n', start);
      out += field;
      out += '=';
      out +=
          detail::one_line(value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
      out += '\n';
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  };
  const std::optional<double> precursor = m.number(keys::precursor_mz);
  for (const auto& [key, value] : m.entries()) {
    if (key == keys::precursor_mz && precursor) {
      std::string pepmass = text::number_text(*precursor);
      if (auto intensity = m.number(keys::precursor_intensity)) {
        pepmass += ' ';
        pepmass += text::number_text(*intensity);
      }
      write_lines("PEPMASS", pepmass);
      continue;
    }
    if (key == keys::precursor_intensity && precursor && m.number(keys::precursor_intensity)) continue;
    std::string field;
    for (const auto& f : kWriteNames) {
      if (f.field == key) field = std::string(f.key);
    }
    if (field.empty()) {
      if (!is_mgf_parameter(key, value)) continue;  // left to the formats that hold it
      field = key;
    }
    write_lines(field, value);
  }
  detail::append_peak_lines(out, s);
  out += "END IONS\n\n";
  return out;
}

}  // namespace tessarin::spectra
