// Similarity of two spectra. `a` is the query (the measured, unknown
// spectrum) and `b` the reference (the library or predicted spectrum); only
// the composite score and the reverse variant treat them differently.
//
// Every score weighs peak i by  w_i = mz_i^p * I_i^q  (m/z power p,
// intensity power q). Scaling all m/z or all intensities of one spectrum by a
// constant leaves every score unchanged, so the weights are computed from
// m/z / (largest m/z) and I / (largest I), which keeps them within [0, 1].
// Peaks of weight zero (intensity zero) take no part in any score.
//
// Peak matching (all methods): every pair (i of a, j of b) with
// |mz_a,i - mz_b,j| <= tolerance is a candidate, scored w_a,i * w_b,j;
// candidates are taken greedily from the largest product down (equal
// products: lower i, then lower j first), each peak at most once. The taken
// pairs are the matched pairs; N_LU is their number.
//
// Methods:
//   cosine      (default p = 0, q = 0.5: square-rooted intensities, which
//               identify better than q = 1, the plain cosine)
//               S = sum over matched pairs of w_a,i w_b,j
//                   / ( sqrt(sum_i w_a,i^2) * sqrt(sum_j w_b,j^2) )
//   dot_product (default p = 3, q = 0.6; the EI library-search dot product)
//               D = cosine^2, i.e. (sum w_a w_b)^2 / (sum w_a^2 * sum w_b^2)
//   composite   (default p = 3, q = 0.6; the composite match factor)
//               F = (N_U * D + N_LU * R) / (N_U + N_LU)
//               N_U: number of peaks of the query a;
//               R = (1 / N_LU) * sum_{k=2..N_LU} min(r_k, 1 / r_k),
//               r_k = (w_b,k * w_a,k-1) / (w_b,k-1 * w_a,k)
//               over the matched pairs k = 1..N_LU in order of the query's
//               m/z: how well the intensity ratios of neighbouring matched
//               peaks agree. R = 0 when fewer than two peaks match. As the
//               sum has N_LU - 1 terms, a spectrum of n peaks scores
//               1 - 1/(2n) against itself, not 1.
// Every score lies in [0, 1]; search programs usually print it times 999.
//
// Reverse search (reverse = true): the peaks of the query a with no peak of
// b within the tolerance are removed before scoring, so only what the
// reference spectrum b shows counts (a reference spectrum that explains part
// of the query scores high). N_U then counts the kept peaks.
//
// Measured range (measured_range = true): the peaks of the reference b
// outside the m/z range the query a covers are left out before scoring, as
// if b had been measured on the same instrument: a spectrum scanned from
// m/z 40 is not penalised for a predicted peak at m/z 28. The range is the
// query's declared scan range (metadata "scan_range", "LOW-HIGH") when it
// has one, else its lowest to its highest m/z of positive intensity.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "spectra/spectrum.h"

namespace tessarin::spectra {

enum class ScoreMethod { cosine, dot_product, composite };

std::string_view method_name(ScoreMethod method);
// "cosine", "dot_product", "composite"; nothing for any other name.
std::optional<ScoreMethod> method_named(std::string_view name);

struct SimilarityOptions {
  ScoreMethod method = ScoreMethod::cosine;
  double tolerance = 0.5;                 // m/z
  std::optional<double> mz_power;         // default: the method's (see above)
  std::optional<double> intensity_power;  // default: the method's
  bool reverse = false;
  bool measured_range = false;  // leave out b's peaks outside a's m/z range

  double mz_power_or_default() const;
  double intensity_power_or_default() const;
  // Throws InvalidInput for a negative or non-finite tolerance or power.
  void check() const;
};

struct Similarity {
  double score = 0;
  std::size_t matched = 0;
  // Matched pairs (index of the peak in a, index in b), by a's index.
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
};

// Throws InvalidInput when a spectrum fails Spectrum::check or the options
// are out of range.
Similarity similarity(const Spectrum& a, const Spectrum& b, const SimilarityOptions& options = {});

// The m/z range a spectrum covers (see measured_range above); nothing for a
// spectrum without peaks of positive intensity and no declared range.
std::optional<std::pair<double, double>> measured_mz_range(const Spectrum& spectrum);

// The cosine of square-rooted intensities (p = 0, q = 0.5), tolerance 0.5:
// the default options spelled out.
SimilarityOptions sqrt_cosine();

namespace detail {

// A spectrum's peaks of non-zero weight, ready for scoring.
struct WeightedPeaks {
  std::vector<double> mz;
  std::vector<double> weight;
  std::vector<std::size_t> source;  // index of each peak in the spectrum
  double norm2 = 0;                 // sum of the squared weights
};

// Weights as described above, from checked arrays.
void weigh(const double* mz, const double* intensity, std::size_t n, double mz_power, double intensity_power,
           WeightedPeaks& out);

// A non-owning view of weighted peaks.
struct PeakView {
  const double* mz = nullptr;
  const double* weight = nullptr;
  std::size_t size = 0;
  double norm2 = 0;
};

inline PeakView view(const WeightedPeaks& w) { return {w.mz.data(), w.weight.data(), w.mz.size(), w.norm2}; }

// The peaks of `v` (sorted by m/z) within [low, high], their norm summed
// anew; `first` receives the index in `v` of the first one kept.
PeakView crop(const PeakView& v, double low, double high, std::size_t* first = nullptr);

// Reusable buffers of the scoring, one per thread.
struct ScoreWorkspace {
  struct Candidate {
    double product;
    std::uint32_t i;
    std::uint32_t j;
  };
  std::vector<Candidate> candidates;
  std::vector<char> used_a;
  std::vector<char> used_b;
  std::vector<char> kept_a;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> matched;
};

// The score of weighted peaks; `matched_pairs` receives the matched pairs
// (indices into the views) sorted by a's index. The one computation behind
// similarity() and the library search.
double score_weighted(const PeakView& a, const PeakView& b, const SimilarityOptions& options, ScoreWorkspace& ws,
                      std::size_t& matched);

}  // namespace detail

}  // namespace tessarin::spectra
