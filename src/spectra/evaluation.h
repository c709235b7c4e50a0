// How well a predicted spectrum matches a measured one, and how well a
// score picks the right structure among candidates: the measures of an
// evaluation over a file of measured spectra.
//
// Peaks are compared by integer m/z: every peak counts at its nearest
// integer (x.5 rounds up) and intensities falling on the same integer are
// summed; "base" is the largest such sum of the spectrum. A predicted m/z is
// "named" when its intensity is at least `threshold` (5 %) of the predicted
// base; a measured m/z is "shown" when its intensity is at least `threshold`
// of the measured base.
//
//   recall@5        share of the five most intense measured m/z at
//                   m/z >= min_mz (15) that the prediction names (equal
//                   intensities: lower m/z first; fewer than five when the
//                   spectrum has fewer)
//   precision       share of the m/z the prediction names, the molecular
//                   ion's excepted, that the measured spectrum shows
//   base-peak hit   whether the prediction names the most intense measured
//                   m/z at m/z >= min_mz (the first of the five above)
//
// A measure without anything to count (no measured peak at m/z >= 15, no
// predicted m/z besides the molecular ion) has no value.
//
// Identification: the candidates' predicted spectra are scored against the
// measured one; the true structure's rank counts every candidate scoring
// higher once and every other candidate with an equal score one half:
//   rank = 1 + higher + equal / 2,  reciprocal rank = 1 / rank,
//   top-k = 1 when higher + equal < k (the whole tie within the first k),
//           0 when higher >= k, and 1/2 when the tie straddles place k.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra {

struct PeakMeasureOptions {
  double min_mz = 15;
  double threshold = 0.05;
  std::size_t top_peaks = 5;
};

struct PeakMeasures {
  std::optional<double> recall;
  std::optional<double> precision;
  std::optional<bool> base_peak_hit;
};

// `molecular_ion_mz`: the integer m/z of the molecular ion, left out of the
// precision (nothing is left out when not given). Throws InvalidInput for a
// spectrum that fails Spectrum::check or options out of range.
PeakMeasures peak_measures(const Spectrum& measured, const Spectrum& predicted,
                           std::optional<long long> molecular_ion_mz, const PeakMeasureOptions& options = {});

struct CandidateRank {
  double rank = 0;
  double top1 = 0;
  double top3 = 0;
  double reciprocal_rank = 0;
};

// Rank of `scores[true_index]` among `scores`. Throws InvalidInput for a
// NaN score and IndexOutOfRange for a bad index.
CandidateRank candidate_rank(std::span<const double> scores, std::size_t true_index);

// similarity(measured, candidate).score for every candidate (default: the
// cosine of square-rooted intensities).
std::vector<double> candidate_scores(const Spectrum& measured, std::span<const Spectrum> candidates,
                                     const SimilarityOptions& options = sqrt_cosine());

// One measured spectrum's results, and their means over a file.
struct MoleculeEvaluation {
  std::optional<double> score;  // predicted against measured
  PeakMeasures peaks;
  std::optional<CandidateRank> rank;
};

struct Mean {
  double value = 0;       // 0 when count is 0
  std::size_t count = 0;  // molecules that have the measure
};

struct EvaluationSummary {
  std::size_t molecules = 0;
  Mean score, recall, precision, base_peak_hit, top1, top3, reciprocal_rank, candidates_rank;
};

// Means over the molecules that have each measure, summed in order.
EvaluationSummary summarize(std::span<const MoleculeEvaluation> molecules);

}  // namespace tessarin::spectra
