#include "spectra/spectrum.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/errors.h"
#include "spectra/text.h"

namespace tessarin::spectra {

Metadata::Metadata(std::initializer_list<Entry> entries) {
  for (const Entry& e : entries) set(e.first, e.second);
}

const std::string* Metadata::find(std::string_view key) const {
  for (const Entry& e : entries_) {
    if (e.first == key) return &e.second;
  }
  return nullptr;
}

std::string Metadata::get(std::string_view key) const {
  const std::string* value = find(key);
  return value ? *value : std::string();
}

std::optional<double> Metadata::number(std::string_view key) const {
  const std::string* value = find(key);
  if (!value) return std::nullopt;
  return text::parse_number(*value);
}

void Metadata::set(std::string_view key, std::string value) {
  for (Entry& e : entries_) {
    if (e.first == key) {
      e.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::string(key), std::move(value));
}

void Metadata::append(std::string_view key, std::string_view line) {
  for (Entry& e : entries_) {
    if (e.first == key) {
      e.second += '\n';
      e.second += line;
      return;
    }
  }
  entries_.emplace_back(std::string(key), std::string(line));
}

bool Metadata::erase(std::string_view key) {
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

bool Metadata::operator==(const Metadata& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  for (const Entry& e : entries_) {
    const std::string* value = other.find(e.first);
    if (!value || *value != e.second) return false;
  }
  return true;
}

Spectrum Spectrum::from_peaks(std::vector<double> mz, std::vector<double> intensities,
                              std::vector<std::vector<std::string>> annotations, Metadata metadata) {
  Spectrum s;
  if (annotations.empty()) annotations.resize(mz.size());
  s.mz = std::move(mz);
  s.intensities = std::move(intensities);
  s.annotations = std::move(annotations);
  s.metadata = std::move(metadata);
  if (s.intensities.size() != s.mz.size() || s.annotations.size() != s.mz.size()) s.check();  // names the mismatch
  s.sort_peaks();
  s.check();
  return s;
}

void Spectrum::check() const {
  if (intensities.size() != mz.size()) {
    throw InvalidInput("a spectrum needs one intensity per m/z: " + std::to_string(mz.size()) + " m/z values, " +
                       std::to_string(intensities.size()) + " intensities");
  }
  if (annotations.size() != mz.size()) {
    throw InvalidInput("a spectrum needs one annotation list per peak: " + std::to_string(mz.size()) + " peaks, " +
                       std::to_string(annotations.size()) + " annotation lists");
  }
  for (std::size_t i = 0; i < mz.size(); ++i) {
    if (!std::isfinite(mz[i]) || mz[i] < 0) {
      throw InvalidInput("peak " + std::to_string(i) + " has m/z " + text::number_text(mz[i]) +
                         "; m/z must be finite and not negative");
    }
    if (!std::isfinite(intensities[i]) || intensities[i] < 0) {
      throw InvalidInput("peak " + std::to_string(i) + " has intensity " + text::number_text(intensities[i]) +
                         "; intensities must be finite and not negative");
    }
    if (i > 0 && mz[i] < mz[i - 1]) {
      throw InvalidInput("peaks are not sorted by m/z (peak " + std::to_string(i) + ")");
    }
  }
}

void Spectrum::sort_peaks() {
  if (std::is_sorted(mz.begin(), mz.end())) return;
  std::vector<std::size_t> order(mz.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return mz[a] < mz[b]; });
  std::vector<double> m(mz.size());
  std::vector<double> in(mz.size());
  std::vector<std::vector<std::string>> an(annotations.size() == mz.size() ? mz.size() : 0);
  for (std::size_t k = 0; k < order.size(); ++k) {
    m[k] = mz[order[k]];
    if (order[k] < intensities.size()) in[k] = intensities[order[k]];
    if (!an.empty()) an[k] = std::move(annotations[order[k]]);
  }
  mz = std::move(m);
  intensities = std::move(in);
  if (!an.empty()) annotations = std::move(an);
}

std::optional<std::size_t> Spectrum::base_peak() const {
  if (intensities.empty()) return std::nullopt;
  std::size_t best = 0;
  for (std::size_t i = 1; i < intensities.size(); ++i) {
    if (intensities[i] > intensities[best]) best = i;
  }
  return best;
}

double Spectrum::max_intensity() const {
  double m = 0;
  for (double v : intensities) m = std::max(m, v);
  return m;
}

Spectrum Spectrum::normalized(double scale) const {
  if (!std::isfinite(scale) || scale <= 0) throw InvalidInput("the base-peak scale must be a positive number");
  Spectrum out = *this;
  const double top = max_intensity();
  if (!(top > 0)) return out;
  for (double& v : out.intensities) v = v / top * scale;
  return out;
}

std::optional<double> Spectrum::molecular_mass() const {
  for (std::string_view key : {keys::mol_mass, keys::exact_mass, keys::precursor_mz}) {
    if (auto value = metadata.number(key)) return value;
  }
  return std::nullopt;
}

}  // namespace tessarin::spectra
