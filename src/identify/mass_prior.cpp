#include "identify/mass_prior.h"

#include <algorithm>
#include <cmath>

#include "identify/mass_ranking_weights.h"
#include "spectra/similarity.h"

namespace tessarin::identify {
namespace {

constexpr std::array<std::string_view, kHypothesisEvidence> kNames{
    "log hypothesis score", "best hypothesis", "similarity", "upper end unexplained", "upper end not measured"};
enum : std::size_t { kLogScore, kBest, kSimilarity, kUnexplained, kNotMeasured };

// Intensities summed per nominal m/z within [low, high] (positive ones only), at low + k.
std::vector<double> nominal_window(const spectra::Spectrum& s, long low, long high) {
  std::vector<double> out(static_cast<std::size_t>(std::max(0L, high - low + 1)), 0.0);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const long mz = std::lround(s.mz[i]);
    if (s.intensities[i] > 0 && mz >= low && mz <= high) out[static_cast<std::size_t>(mz - low)] += s.intensities[i];
  }
  return out;
}

bool same_score(const spectra::SimilarityOptions& a, const spectra::SimilarityOptions& b) {
  return a.method == b.method && a.tolerance == b.tolerance && a.mz_power_or_default() == b.mz_power_or_default() &&
         a.intensity_power_or_default() == b.intensity_power_or_default() && a.reverse == b.reverse &&
         a.measured_range == b.measured_range;
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
  long lowest = 0, highest = -1;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    if (!(measured.intensities[i] > 0)) continue;
    const long mz = std::lround(measured.mz[i]);
    lowest = highest < lowest ? mz : std::min(lowest, mz);
    highest = std::max(highest, mz);
  }
  UpperEnd upper;
  if (highest < lowest) return upper;
  const std::vector<double> all = nominal_window(measured, lowest, highest);
  const double base = *std::max_element(all.begin(), all.end());
  long high = lowest;
  for (std::size_t k = 0; k < all.size(); ++k) {
    if (all[k] >= 0.005 * base) high = lowest + static_cast<long>(k);
  }
  const long low = std::max(lowest, high - kUpperEndWidth);
  upper.low = static_cast<int>(low);
  upper.high = static_cast<int>(high);
  for (long mz = low; mz <= high; ++mz) {
    upper.shown.push_back(std::sqrt(all[static_cast<std::size_t>(mz - lowest)] / base));
  }
  return upper;
}

std::span<const std::string_view> hypothesis_evidence_names() { return kNames; }

spectra::SimilarityOptions ranking_similarity() {
  spectra::SimilarityOptions score = spectra::sqrt_cosine();
  score.measured_range = true;
  return score;
}

HypothesisEvidence hypothesis_evidence(const spectra::Spectrum& measured, const UpperEnd& upper,
                                       const spectra::Spectrum& structure,
                                       const spectra::SimilarityOptions& scored_with, double score,
                                       const MassPrior& mass, bool best) {
  HypothesisEvidence x = with_hypothesis({}, mass, best);
  const spectra::SimilarityOptions ranking = ranking_similarity();
  x[kSimilarity] = same_score(scored_with, ranking) ? score : spectra::similarity(measured, structure, ranking).score;
  if (upper.high < upper.low) return x;
  // Shares of square-rooted intensities: the structure's own scale cancels.
  const std::vector<double> own = nominal_window(structure, upper.low, upper.high);
  double shown = 0, unexplained = 0, predicted = 0, unmeasured = 0;
  for (std::size_t k = 0; k < own.size(); ++k) {
    const double mine = std::sqrt(own[k]);
    shown += upper.shown[k];
    if (mine == 0) unexplained += upper.shown[k];
    predicted += mine;
    if (upper.shown[k] == 0) unmeasured += mine;
  }
  x[kUnexplained] = shown > 0 ? unexplained / shown : 0.0;
  x[kNotMeasured] = predicted > 0 ? unmeasured / predicted : 0.0;
  return x;
}

HypothesisEvidence with_hypothesis(HypothesisEvidence evidence, const MassPrior& mass, bool best) {
  evidence[kLogScore] = std::log(std::max(mass.score, 1e-12));
  evidence[kBest] = best ? 1.0 : 0.0;
  return evidence;
}

double hypothesis_rank_score(const HypothesisEvidence& evidence, bool library_evidence) {
  static const std::vector<double> with_library = spectra::weights_in_order(mass_ranking_weights(true), kNames);
  static const std::vector<double> peaks_alone = spectra::weights_in_order(mass_ranking_weights(false), kNames);
  const std::vector<double>& w = library_evidence ? with_library : peaks_alone;
  double s = 0;
  for (std::size_t i = 0; i < kHypothesisEvidence; ++i) s += w[i] * evidence[i];
  return s;
}

}  // namespace tessarin::identify
