// JCAMP-DX mass spectra: blocks from ##TITLE= to ##END=, a peak table
// (##PEAK TABLE=(XY..XY) or ##XYPOINTS=(XY..XY)) of "x,y" pairs separated by
// blanks or semicolons; link blocks holding several spectra are opened and
// each inner block with peaks is one record.
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spectra/record_parsers.h"
#include "spectra/text.h"

namespace tessarin::spectra {
namespace {

constexpr std::size_t kMaxDepth = 16;

std::string shorten(std::string_view t) {
  return t.size() <= 60 ? std::string(t) : std::string(t.substr(0, 57)) + "...";
}

// A label as the standard compares them: upper case, without blanks, '-',
// '/' and '_'.
std::string label_key(std::string_view label) {
  std::string out;
  for (char c : label) {
    if (c == ' ' || c == '\t' || c == '-' || c == '/' || c == '_') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

// Labels that describe the layout of the data, not the sample.
bool is_layout_label(std::string_view key) {
  static constexpr std::string_view layout[] = {
      "JCAMPDX", "DATATYPE", "DATACLASS", "XUNITS",     "YUNITS", "FIRSTX",  "LASTX",   "FIRSTY",  "MAXX",   "MINX",
      "MAXY",    "MINY",     "DELTAX",    "RESOLUTION", "BLOCKS", "BLOCKID", "XFACTOR", "YFACTOR", "NPOINTS"};
  for (std::string_view l : layout) {
    if (key == l) return true;
  }
  return false;
}

struct Block {
  std::size_t start_line = 0;
  Spectrum spectrum;
  bool has_table = false;
  bool mass_spectrum = true;  // DATA TYPE names a mass spectrum (or is absent)
  std::string data_type;
  double x_factor = 1;
  double y_factor = 1;
  std::optional<std::size_t> npoints;
};

class JcampParser final : public detail::RecordParser {
 public:
  using RecordParser::RecordParser;

 protected:
  bool parse(Spectrum& out) override {
    bool in_table = false;
    std::string last_key;  // metadata key a continuation line adds to
    for (;;) {
      const std::string* l = line();
      if (!l) {
        if (!blocks_.empty() && blocks_.back().has_table) {
          record_line_ = blocks_.back().start_line;
          fail_at(record_line_, "the block has no ##END=");
        }
        blocks_.clear();
        return false;
      }
      std::string_view t(*l);
      const std::size_t comment = t.find("$$");
      if (comment != std::string_view::npos) t = t.substr(0, comment);
      t = text::trim(t);
      if (t.empty()) continue;
      if (t.substr(0, 2) != "##") {
        if (blocks_.empty()) fail("text outside a ##TITLE= block: '" + shorten(t) + "'");
        if (in_table) {
          read_pairs(t, blocks_.back());
        } else if (!last_key.empty()) {
          blocks_.back().spectrum.metadata.append(last_key, t);
        }
        continue;
      }
      in_table = false;
      last_key.clear();
      const std::size_t eq = t.find('=');
      const std::string_view label =
          text::trim(t.substr(2, eq == std::string_view::npos ? std::string_view::npos : eq - 2));
      const std::string_view value = eq == std::string_view::npos ? std::string_view() : text::trim(t.substr(eq + 1));
      const std::string key = label_key(label);
      if (key == "TITLE") {
        if (!blocks_.empty() && blocks_.back().has_table) {
          record_line_ = blocks_.back().start_line;
          blocks_.pop_back();
          source_.unread();
          at_boundary_ = true;
          fail_at(record_line_, "the block has no ##END=");
        }
        if (blocks_.size() >= kMaxDepth) fail("blocks nested more than " + std::to_string(kMaxDepth) + " deep");
        blocks_.emplace_back();
        blocks_.back().start_line = source_.line_number();
        record_line_ = source_.line_number();
        blocks_.back().spectrum.metadata.set(keys::name, std::string(value));
        last_key = keys::name;
        continue;
      }
      if (blocks_.empty()) fail("##" + std::string(label) + "= before the first ##TITLE=");
      Block& b = blocks_.back();
      record_line_ = b.start_line;
      if (key == "END") {
        Block done = std::move(blocks_.back());
        blocks_.pop_back();
        if (!done.has_table) continue;  // a link block, or one without peaks
        at_boundary_ = true;
        if (!done.mass_spectrum) fail_at(done.start_line, "not a mass spectrum (DATA TYPE=" + done.data_type + ")");
        if (done.npoints && *done.npoints != done.spectrum.mz.size()) {
          fail_at(done.start_line, "NPOINTS is " + std::to_string(*done.npoints) + " but the peak table has " +
                                       std::to_string(done.spectrum.mz.size()) + " peaks");
        }
        at_boundary_ = false;
        out = std::move(done.spectrum);
        out.sort_peaks();
        return true;
      }
      if (key == "PEAKTABLE" || key == "XYPOINTS" || key == "XYDATA") {
        std::string form;
        for (char c : value) {
          if (c != ' ') form.push_back(c);
        }
        if (form.find("XY..XY") == std::string::npos) {
          fail("##" + std::string(label) + "=" + shorten(value) + " is not read: only (XY..XY) peak tables");
        }
        b.has_table = true;
        in_table = true;
        continue;
      }
      if (key == "NTUPLES") fail("##NTUPLES= data is not read: only (XY..XY) peak tables");
      if (key == "DATATYPE") {
        b.data_type = std::string(value);
        const std::string upper = label_key(value);
        b.mass_spectrum = upper.find("MASSSPECTRUM") != std::string::npos || upper == "LINK";
      }
      if (key == "XFACTOR" || key == "YFACTOR") {
        const std::optional<double> f = text::parse_number(value);
        if (!f || *f == 0) fail("##" + std::string(label) + "= must be a non-zero number");
        (key == "XFACTOR" ? b.x_factor : b.y_factor) = *f;
      }
      if (key == "NPOINTS") {
        const std::optional<double> n = text::parse_number(value);
        if (!n || *n < 0 || *n != static_cast<double>(static_cast<long long>(*n))) {
          fail("##NPOINTS= must be a whole number");
        }
        b.npoints = static_cast<std::size_t>(*n);
      }
      if (is_layout_label(key)) continue;
      Metadata& m = b.spectrum.metadata;
      std::string_view canonical;
      std::string formula;
      std::string_view stored = value;
      if (key == "MOLFORM") {
        canonical = keys::formula;
        for (char c : value) {
          if (c != ' ') formula.push_back(c);
        }
        stored = formula;
      } else if (key == "MW") {
        canonical = keys::mol_mass;
      } else if (key == "NAMES") {
        canonical = keys::synonyms;
      } else if (key == "SMILES" || key == "$SMILES") {
        canonical = keys::smiles;
      } else if (key == "SPECTROMETERDATASYSTEM") {
        canonical = keys::instrument;
      }
      if (canonical == keys::synonyms) {
        if (!value.empty()) m.append(canonical, value);
        last_key = canonical;
      } else if (!canonical.empty() && !m.contains(canonical)) {
        m.set(canonical, std::string(stored));
        last_key = canonical;
      } else {
        m.append(label, value);
        last_key = std::string(label);
      }
    }
  }

  void skip_rest() override {
    if (at_boundary_) {
      at_boundary_ = false;
      return;
    }
    if (blocks_.empty()) return;
    int depth = 0;
    while (const std::string* l = source_.next()) {
      const std::string_view t = text::trim(*l);
      if (t.substr(0, 2) != "##") continue;
      const std::string key =
          label_key(t.substr(2, t.find('=') == std::string_view::npos ? std::string_view::npos : t.find('=') - 2));
      if (key == "TITLE") ++depth;
      if (key == "END" && depth-- == 0) {
        blocks_.pop_back();
        return;
      }
    }
    blocks_.clear();
  }

 private:
  void read_pairs(std::string_view t, Block& b) {
    std::size_t pos = 0;
    std::vector<double> values;
    double v = 0;
    for (;;) {
      while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t' || t[pos] == ';' || t[pos] == ',')) ++pos;
      if (pos >= t.size()) break;
      std::size_t end = pos;
      while (end < t.size() && t[end] != ' ' && t[end] != '\t' && t[end] != ';' && t[end] != ',') ++end;
      const std::string_view token = t.substr(pos, end - pos);
      const std::optional<double> n = text::parse_number(token);
      if (!n && detail::is_non_finite_number(token)) fail(detail::not_finite_reason(token));
      if (!n) fail("unreadable value in the peak table: '" + shorten(t) + "'");
      v = *n;
      values.push_back(v);
      pos = end;
    }
    if (values.size() % 2 != 0) fail("an x without its y in the peak table: '" + shorten(t) + "'");
    for (std::size_t i = 0; i < values.size(); i += 2) {
      const double mz = values[i] * b.x_factor;
      const double intensity = values[i + 1] * b.y_factor;
      if (!std::isfinite(mz) || !std::isfinite(intensity)) fail("a peak beyond the range of numbers");
      detail::check_peak(source_, mz, intensity);
      b.spectrum.mz.push_back(mz);
      b.spectrum.intensities.push_back(intensity);
      b.spectrum.annotations.emplace_back();
    }
  }

  std::vector<Block> blocks_;
  bool at_boundary_ = false;
};

}  // namespace

namespace detail {
std::unique_ptr<RecordParser> make_jcamp_parser(LineSource& source) { return std::make_unique<JcampParser>(source); }
}  // namespace detail

}  // namespace tessarin::spectra
