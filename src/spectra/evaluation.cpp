#include "spectra/evaluation.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/errors.h"

namespace tessarin::spectra {
namespace {

// (integer m/z, summed intensity), ascending m/z.
std::vector<std::pair<long long, double>> integer_bins(const Spectrum& s) {
  std::vector<std::pair<long long, double>> bins;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double rounded = std::floor(s.mz[i] + 0.5);
    if (rounded > 9e15)
      throw InvalidInput("m/z " + std::to_string(s.mz[i]) + " is too large to compare by integer m/z");
    const auto mz = static_cast<long long>(rounded);
    if (!bins.empty() && bins.back().first == mz) {
      bins.back().second += s.intensities[i];
    } else {
      bins.emplace_back(mz, s.intensities[i]);
    }
  }
  return bins;
}

double base_of(const std::vector<std::pair<long long, double>>& bins) {
  double base = 0;
  for (const auto& b : bins) base = std::max(base, b.second);
  return base;
}

double intensity_at(const std::vector<std::pair<long long, double>>& bins, long long mz) {
  const auto it =
      std::lower_bound(bins.begin(), bins.end(), mz, [](const auto& b, long long v) { return b.first < v; });
  return it != bins.end() && it->first == mz ? it->second : 0.0;
}

void add(Mean& m, double value) {
  m.value += value;
  ++m.count;
}

}  // namespace

PeakMeasures peak_measures(const Spectrum& measured, const Spectrum& predicted,
                           std::optional<long long> molecular_ion_mz, const PeakMeasureOptions& options) {
  measured.check();
  predicted.check();
  if (!std::isfinite(options.min_mz) || !std::isfinite(options.threshold) || options.threshold < 0 ||
      options.threshold > 1 || options.top_peaks == 0) {
    throw InvalidInput("peak measures need a finite min_mz, a threshold in [0, 1] and at least one top peak");
  }
  const auto m = integer_bins(measured);
  const auto p = integer_bins(predicted);
  const double m_base = base_of(m);
  const double p_base = base_of(p);
  const auto named = [&](long long mz) {
    const double v = intensity_at(p, mz);
    return p_base > 0 && v > 0 && v >= options.threshold * p_base;
  };

  PeakMeasures out;
  std::vector<std::pair<long long, double>> top;
  for (const auto& b : m) {
    if (static_cast<double>(b.first) >= options.min_mz && b.second > 0) top.push_back(b);
  }
  std::stable_sort(top.begin(), top.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
  if (top.size() > options.top_peaks) top.resize(options.top_peaks);
  if (!top.empty()) {
    std::size_t hits = 0;
    for (const auto& b : top) hits += named(b.first) ? 1 : 0;
    out.recall = static_cast<double>(hits) / static_cast<double>(top.size());
    out.base_peak_hit = named(top.front().first);
  }

  std::size_t predicted_count = 0;
  std::size_t shown = 0;
  for (const auto& b : p) {
    if (!named(b.first) || (molecular_ion_mz && b.first == *molecular_ion_mz)) continue;
    ++predicted_count;
    const double v = intensity_at(m, b.first);
    if (m_base > 0 && v > 0 && v >= options.threshold * m_base) ++shown;
  }
  if (predicted_count > 0) out.precision = static_cast<double>(shown) / static_cast<double>(predicted_count);
  return out;
}

CandidateRank candidate_rank(std::span<const double> scores, std::size_t true_index) {
  if (true_index >= scores.size()) {
    throw IndexOutOfRange("candidate " + std::to_string(true_index) + " of " + std::to_string(scores.size()));
  }
  const double own = scores[true_index];
  std::size_t higher = 0;
  std::size_t equal = 0;
  for (std::size_t j = 0; j < scores.size(); ++j) {
    if (std::isnan(scores[j])) throw InvalidInput("a candidate score is NaN");
    if (j == true_index) continue;
    if (scores[j] > own) ++higher;
    if (scores[j] == own) ++equal;
  }
  const auto top_k = [&](std::size_t k) {
    if (higher + equal < k) return 1.0;
    if (higher >= k) return 0.0;
    return 0.5;
  };
  CandidateRank r;
  r.rank = 1.0 + static_cast<double>(higher) + static_cast<double>(equal) / 2.0;
  r.top1 = top_k(1);
  r.top3 = top_k(3);
  r.reciprocal_rank = 1.0 / r.rank;
  return r;
}

std::vector<double> candidate_scores(const Spectrum& measured, std::span<const Spectrum> candidates,
                                     const SimilarityOptions& options) {
  std::vector<double> scores;
  scores.reserve(candidates.size());
  for (const Spectrum& c : candidates) scores.push_back(similarity(measured, c, options).score);
  return scores;
}

EvaluationSummary summarize(std::span<const MoleculeEvaluation> molecules) {
  EvaluationSummary s;
  s.molecules = molecules.size();
  for (const MoleculeEvaluation& m : molecules) {
    if (m.score) add(s.score, *m.score);
    if (m.peaks.recall) add(s.recall, *m.peaks.recall);
    if (m.peaks.precision) add(s.precision, *m.peaks.precision);
    if (m.peaks.base_peak_hit) add(s.base_peak_hit, *m.peaks.base_peak_hit ? 1.0 : 0.0);
    if (m.rank) {
      add(s.top1, m.rank->top1);
      add(s.top3, m.rank->top3);
      add(s.reciprocal_rank, m.rank->reciprocal_rank);
      add(s.candidates_rank, m.rank->rank);
    }
  }
  for (Mean* mean : {&s.score, &s.recall, &s.precision, &s.base_peak_hit, &s.top1, &s.top3, &s.reciprocal_rank,
                     &s.candidates_rank}) {
    if (mean->count) mean->value /= static_cast<double>(mean->count);
  }
  return s;
}

}  // namespace tessarin::spectra
