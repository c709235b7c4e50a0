#include "counts/band_counts.h"

#include <algorithm>

namespace tessarin::counts {
namespace {

// Largest window of the band factorisation, in rows, before it gives up: a
// dense count of that size costs little anyway.
int max_window(int bandwidth) { return std::max(8 * bandwidth, 512); }

}  // namespace

std::optional<LpiCounts> BandCounter::count(int m, std::span<const MatrixEntry> lower, double tol) {
  if (m < kMinBandNodes) return std::nullopt;
  pairs_.clear();
  pairs_.reserve(lower.size());
  for (const MatrixEntry& e : lower) pairs_.emplace_back(e.row, e.col);
  const BandOrdering ordering = band_ordering(SparsePattern::from_pairs(m, pairs_));
  if (eigen_path(m, ordering.bandwidth) == EigenPath::dense) return std::nullopt;
  const bool positive_tol = tol > 0.0;
  if (!positive_tol && dense_matrix_fits(m)) return std::nullopt;
  check_band_matrix_fits(m, ordering.bandwidth);

  auto fill = [&] {
    band_.reset(m, ordering.bandwidth);
    for (const MatrixEntry& e : lower) {
      const int a = ordering.position[static_cast<std::size_t>(e.row)];
      const int b = ordering.position[static_cast<std::size_t>(e.col)];
      band_.lower(std::max(a, b), std::min(a, b)) += e.weight;
    }
  };
  fill();
  if (positive_tol) {
    if (std::optional<LpiCounts> counts = certified_counts(m, tol)) {
      ++certified_;
      return counts;
    }
    if (dense_matrix_fits(m)) return std::nullopt;
  }
  eigen_.eigenvalues(band_, values_);  // overwrites the band
  ++from_eigenvalues_;
  return count_signs(values_, tol);
}

std::optional<LpiCounts> BandCounter::certified_counts(int m, double tol) {
  const double half = tol / 2.0;
  const double guard = tol / 32.0;
  const int window = max_window(band_.bandwidth());
  auto split = [&](double shift) { return inertia_.split(band_, shift, guard, window); };
  const auto above_low = split(tol - half);
  if (!above_low) return std::nullopt;
  const auto above_high = split(tol + half);
  if (!above_high || above_high->above != above_low->above) return std::nullopt;
  const auto below_high = split(-tol + half);
  if (!below_high) return std::nullopt;
  const auto below_low = split(-tol - half);
  if (!below_low || below_low->below != below_high->below) return std::nullopt;
  LpiCounts counts;
  counts.n_plus = above_low->above;
  counts.n_minus = below_low->below;
  counts.n_zero = m - counts.n_plus - counts.n_minus;
  return counts;
}

}  // namespace tessarin::counts
