// MassBank record files: "TAG: value" lines, blocks continued by lines that
// start with two blanks (PK$PEAK, PK$ANNOTATION), "//" at the end.
#include <string>
#include <string_view>

#include "spectra/record_parsers.h"
#include "spectra/text.h"

namespace tessarin::spectra {
namespace {

std::string shorten(std::string_view t) {
  return t.size() <= 60 ? std::string(t) : std::string(t.substr(0, 57)) + "...";
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < s.size()) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    std::size_t end = pos;
    while (end < s.size() && s[end] != ' ' && s[end] != '\t') ++end;
    if (end > pos) out.push_back(s.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

class MassBankParser final : public detail::RecordParser {
 public:
  using RecordParser::RecordParser;

 protected:
  bool parse(Spectrum& out) override {
    const std::string* l = record_start();
    if (!l) return false;

    std::string block;  // tag whose continuation lines follow
    std::size_t mz_column = 0;
    std::size_t intensity_column = 1;
    std::optional<std::size_t> declared;
    for (;; l = line()) {
      if (!l) fail_at(record_line_, "the record does not end with //");
      const std::string_view raw(*l);
      const std::string_view t = text::trim(raw);
      if (t == "//") break;
      if (t.empty()) continue;
      if (raw.size() >= 2 && (raw[0] == ' ' || raw[0] == '\t')) {
        if (block == "PK$PEAK") {
          read_peak(t, mz_column, intensity_column, out);
        } else if (!block.empty()) {
          out.metadata.append(block, t);
        } else {
          fail("an indented line outside a block: '" + shorten(t) + "'");
        }
        continue;
      }
      const std::size_t colon = t.find(':');
      if (colon == std::string_view::npos || colon == 0) fail("expected 'TAG: value', found '" + shorten(t) + "'");
      const std::string tag(text::trim(t.substr(0, colon)));
      const std::string_view value = text::trim(t.substr(colon + 1));
      block.clear();
      if (tag == "PK$PEAK") {
        block = tag;
        if (value == "N/A") continue;
        const std::vector<std::string_view> columns = words(value);
        bool found_mz = false;
        bool found_int = false;
        for (std::size_t i = 0; i < columns.size(); ++i) {
          if (columns[i] == "m/z") {
            mz_column = i;
            found_mz = true;
          } else if (columns[i] == "int." || (columns[i] == "rel.int." && !found_int)) {
            intensity_column = i;
            found_int = found_int || columns[i] == "int.";
          }
        }
        if (!found_mz) fail("PK$PEAK names no m/z column: '" + shorten(value) + "'");
      } else if (tag == "PK$NUM_PEAK") {
        if (value != "N/A") {
          const std::optional<double> n = text::parse_number(value);
          if (!n || *n < 0 || *n != static_cast<double>(static_cast<long long>(*n))) {
            fail("PK$NUM_PEAK must be a whole number, found '" + shorten(value) + "'");
          }
          declared = static_cast<std::size_t>(*n);
        }
      } else {
        add_field(out.metadata, tag, value);
        block = tag;  // multi-line blocks such as PK$ANNOTATION
      }
    }
    if (declared && *declared != out.mz.size()) {
      at_end_ = true;  // "//" is read: the next record starts on the next line
      fail("PK$NUM_PEAK is " + std::to_string(*declared) + " but PK$PEAK has " + std::to_string(out.mz.size()) +
           " peaks");
    }
    out.sort_peaks();
    return true;
  }

  void skip_rest() override {
    if (at_end_) {
      at_end_ = false;
      return;
    }
    while (const std::string* l = source_.next()) {
      if (text::trim(*l) == "//") return;
    }
  }

 private:
  static void add_field(Metadata& m, const std::string& tag, std::string_view value) {
    std::string_view key;
    if (tag == "ACCESSION") key = keys::accession;
    if (tag == "CH$NAME") key = m.contains(keys::name) ? keys::synonyms : keys::name;
    if (tag == "CH$FORMULA") key = keys::formula;
    if (tag == "CH$EXACT_MASS") key = keys::exact_mass;
    if (tag == "CH$SMILES" && value != "N/A") key = keys::smiles;
    if (tag == "AC$INSTRUMENT_TYPE") key = keys::instrument;
    if (tag == "COMMENT") key = keys::comments;
    if (key == keys::synonyms || key == keys::comments) {
      m.append(key, value);
    } else if (!key.empty() && !m.contains(key)) {
      m.set(key, std::string(value));
    } else {
      m.append(tag, value);
    }
  }

  void read_peak(std::string_view t, std::size_t mz_column, std::size_t intensity_column, Spectrum& out) {
    const std::vector<std::string_view> w = words(t);
    if (w.size() <= std::max(mz_column, intensity_column))
      fail("a peak line needs m/z and intensity: '" + shorten(t) + "'");
    const std::optional<double> mz = text::parse_number(w[mz_column]);
    const std::optional<double> intensity = text::parse_number(w[intensity_column]);
    for (std::string_view value : {w[mz_column], w[intensity_column]}) {
      if (detail::is_non_finite_number(value)) fail(detail::not_finite_reason(value));
    }
    if (!mz || !intensity) fail("unreadable peak '" + shorten(t) + "'");
    detail::check_peak(source_, *mz, *intensity);
    out.mz.push_back(*mz);
    out.intensities.push_back(*intensity);
    out.annotations.emplace_back();
  }

  bool at_end_ = false;
};

}  // namespace

namespace detail {
std::unique_ptr<RecordParser> make_massbank_parser(LineSource& source) {
  return std::make_unique<MassBankParser>(source);
}
}  // namespace detail

}  // namespace tessarin::spectra
