#include "identify/mass_prior.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>

#include "identify/mass_ranking_weights.h"
#include "spectra/similarity.h"

namespace tessarin::identify {
namespace {

constexpr std::array<std::string_view, kHypothesisEvidence> kNames{
    "log hypothesis score", "best hypothesis", "similarity", "upper end unexplained", "upper end not measured"};
enum : std::size_t { kLogScore, kBest, kSimilarity, kUnexplained, kNotMeasured };

// Intensities summed per nominal m/z (positive ones only).
std::map<long, double> nominal_intensities(const spectra::Spectrum& s) {
  std::map<long, double> out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.intensities[i] > 0) out[std::lround(s.mz[i])] += s.intensities[i];
  }
  return out;
}

HypothesisEvidence weights_in_order(bool with_library) {
  HypothesisEvidence w{};
  for (const spectra::NamedWeight& nw : mass_ranking_weights(with_library)) {
    const auto it = std::find(kNames.begin(), kNames.end(), nw.name);
    if (it == kNames.end()) throw std::logic_error("mass-ranking weight for unknown evidence: " + std::string(nw.name));
    w[static_cast<std::size_t>(it - kNames.begin())] = nw.weight;
  }
  return w;
}

}  // namespace

std::vector<MassPrior> plausible_masses(const spectra::MassEstimate& estimate) {
  std::vector<MassPrior> out;
  for (const int mass : estimate.plausible) {
    double score = 0;
    for (const spectra::MassHypothesis& h : estimate.hypotheses) {
      if (h.mass == mass) score = h.score;
    }
    out.push_back({mass, score});
  }
  return out;
}

UpperEnd upper_end(const spectra::Spectrum& measured) {
  measured.check();
  const std::map<long, double> peaks = nominal_intensities(measured);
  UpperEnd upper;
  if (peaks.empty()) return upper;
  double base = 0;
  for (const auto& [mz, v] : peaks) base = std::max(base, v);
  long high = peaks.begin()->first;
  for (const auto& [mz, v] : peaks) {
    if (v >= 0.005 * base) high = mz;
  }
  const long low = std::max(peaks.begin()->first, high - kUpperEndWidth);
  upper.low = static_cast<int>(low);
  upper.high = static_cast<int>(high);
  upper.shown.assign(static_cast<std::size_t>(high - low + 1), 0.0);
  for (auto it = peaks.lower_bound(low); it != peaks.end() && it->first <= high; ++it) {
    upper.shown[static_cast<std::size_t>(it->first - low)] = std::sqrt(it->second / base);
  }
  return upper;
}

std::span<const std::string_view> hypothesis_evidence_names() { return kNames; }

HypothesisEvidence hypothesis_evidence(const spectra::Spectrum& measured, const UpperEnd& upper,
                                       const spectra::Spectrum& structure, const MassPrior& mass, bool best) {
  HypothesisEvidence x{};
  x[kLogScore] = std::log(std::max(mass.score, 1e-12));
  x[kBest] = best ? 1.0 : 0.0;
  spectra::SimilarityOptions score = spectra::sqrt_cosine();
  score.measured_range = true;
  x[kSimilarity] = spectra::similarity(measured, structure, score).score;
  if (upper.high < upper.low) return x;
  std::vector<double> own(upper.shown.size(), 0.0);
  const std::map<long, double> peaks = nominal_intensities(structure);
  double base = 0;
  for (const auto& [mz, v] : peaks) base = std::max(base, v);
  for (auto it = peaks.lower_bound(upper.low); it != peaks.end() && it->first <= upper.high; ++it) {
    own[static_cast<std::size_t>(it->first - upper.low)] = std::sqrt(it->second / base);
  }
  double shown = 0, unexplained = 0, predicted = 0, unmeasured = 0;
  for (std::size_t k = 0; k < own.size(); ++k) {
    shown += upper.shown[k];
    if (own[k] == 0) unexplained += upper.shown[k];
    predicted += own[k];
    if (upper.shown[k] == 0) unmeasured += own[k];
  }
  x[kUnexplained] = shown > 0 ? unexplained / shown : 0.0;
  x[kNotMeasured] = predicted > 0 ? unmeasured / predicted : 0.0;
  return x;
}

double hypothesis_rank_score(const HypothesisEvidence& evidence, bool library_evidence) {
  static const HypothesisEvidence with_library = weights_in_order(true);
  static const HypothesisEvidence peaks_alone = weights_in_order(false);
  const HypothesisEvidence& w = library_evidence ? with_library : peaks_alone;
  double s = 0;
  for (std::size_t i = 0; i < kHypothesisEvidence; ++i) s += w[i] * evidence[i];
  return s;
}

}  // namespace tessarin::identify
