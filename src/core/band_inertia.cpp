#include "core/band_inertia.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>

#include "core/errors.h"

extern "C" {
void dsytrf_(const char* uplo, const int* n, double* a, const int* lda, int* ipiv, double* work, const int* lwork,
             int* info, std::size_t uplo_len);
void dsytrs_(const char* uplo, const int* n, const int* nrhs, const double* a, const int* lda, const int* ipiv,
             double* b, const int* ldb, int* info, std::size_t uplo_len);
void dsycon_(const char* uplo, const int* n, const double* a, const int* lda, const int* ipiv, const double* anorm,
             double* rcond, double* work, int* iwork, int* info, std::size_t uplo_len);
double dlansy_(const char* norm, const char* uplo, const int* n, const double* a, const int* lda, double* work,
               std::size_t norm_len, std::size_t uplo_len);
}

namespace tessarin::core {
namespace {

// Rows per window, at least: below this LAPACK's call overhead dominates.
constexpr int kMinStep = 32;
// The rounding error of a window's elimination is taken as this many units
// of roundoff, times the window size, times the size of the window and of
// the update it leaves (a generous constant on the first-order bounds of
// Bunch-Kaufman and of the eigen-decomposition).
constexpr double kRoundingFactor = 8.0;
constexpr double kEps = std::numeric_limits<double>::epsilon();

double rounding_error(int w, double size) { return kRoundingFactor * kEps * static_cast<double>(w) * size; }

}  // namespace

std::optional<ShiftSplit> BandInertia::split(const SymmetricBand& a, double shift, double guard, int max_window) {
  if (!std::isfinite(shift)) throw InvalidInput("the shift must be finite");
  if (!(std::isfinite(guard) && guard > 0.0)) throw InvalidInput("the rounding guard must be a positive number");
  const int n = a.order();
  const int kd = a.bandwidth();
  for (int j = 0; j < n; ++j) {
    for (int i = j; i <= std::min(n - 1, j + kd); ++i) {
      if (!std::isfinite(a.lower(i, j))) throw InvalidInput("matrix entries must be finite");
    }
  }
  factorised_ = 0;
  diagonalised_ = 0;
  ShiftSplit counts;
  const int step = std::max(kd, kMinStep);
  carried_values_.clear();
  carried_coupling_.clear();
  update_.clear();
  int prev_c = 0;                        // rows the previous window coupled to (the first rows of this one)
  auto entry = [&a, kd](int i, int j) {  // A(i, j), any i, j in range
    if (i < j) std::swap(i, j);
    return i - j <= kd ? a.lower(i, j) : 0.0;
  };

  for (int lo = 0; lo < n;) {
    const int hi = std::min(n, lo + step);
    const int r = static_cast<int>(carried_values_.size());
    const int w = r + (hi - lo);
    if (w > max_window) return std::nullopt;
    const auto uw = static_cast<std::size_t>(w);
    // The window: carried directions first, then rows lo..hi-1.
    window_.assign(uw * uw, 0.0);
    auto at = [this, uw](int i, int j) -> double& {
      return window_[static_cast<std::size_t>(j) * uw + static_cast<std::size_t>(i)];
    };
    for (int i = 0; i < r; ++i) {
      at(i, i) = carried_values_[static_cast<std::size_t>(i)];
      for (int t = 0; t < prev_c; ++t) {
        const double g = carried_coupling_[static_cast<std::size_t>(i) * static_cast<std::size_t>(prev_c) +
                                           static_cast<std::size_t>(t)];
        at(r + t, i) = g;
        at(i, r + t) = g;
      }
    }
    for (int col = lo; col < hi; ++col) {
      for (int row = col; row <= std::min(hi - 1, col + kd); ++row) {
        const double x = a.lower(row, col) - (row == col ? shift : 0.0);
        at(r + row - lo, r + col - lo) = x;
        at(r + col - lo, r + row - lo) = x;
      }
    }
    for (int s = 0; s < prev_c; ++s) {
      for (int t = 0; t < prev_c; ++t)
        at(r + t, r + s) +=
            update_[static_cast<std::size_t>(s) * static_cast<std::size_t>(prev_c) + static_cast<std::size_t>(t)];
    }

    const int c = std::min(n, hi + kd) - hi;
    if (c == 0) {
      // The last window: its own Bunch-Kaufman inertia.
      factor_ = window_;
      pivots_.resize(uw);
      if (work_.size() < uw * 64) work_.resize(uw * 64);
      const char uplo = 'L';
      const int lwork = static_cast<int>(work_.size());
      int info = 0;
      dsytrf_(&uplo, &w, factor_.data(), &w, pivots_.data(), work_.data(), &lwork, &info, 1);
      if (info < 0) throw InvalidInput("invalid argument to the symmetric factorisation");
      const ShiftSplit last = factor_signs(w, factor_.data(), pivots_.data());
      counts.above += last.above;
      counts.below += last.below;
      ++factorised_;
      return counts;
    }
    // C: row t is node hi + t, which meets rows hi + t - kd .. hi - 1.
    coupling_.assign(static_cast<std::size_t>(c) * uw, 0.0);
    for (int t = 0; t < c; ++t) {
      for (int col = std::max(lo, hi + t - kd); col < hi; ++col) {
        coupling_[static_cast<std::size_t>(r + col - lo) * static_cast<std::size_t>(c) + static_cast<std::size_t>(t)] =
            entry(hi + t, col);
      }
    }
    if (!try_factorise(w, c, guard, counts)) diagonalise(w, c, guard, counts);
    prev_c = c;
    lo = hi;
  }
  return counts;
}

bool BandInertia::try_factorise(int w, int c, double guard, ShiftSplit& counts) {
  const auto uw = static_cast<std::size_t>(w);
  const auto uc = static_cast<std::size_t>(c);
  const char uplo = 'L';
  const char one = '1';
  if (work_.size() < uw * 64) work_.resize(uw * 64);
  const double anorm = dlansy_(&one, &uplo, &w, window_.data(), &w, work_.data(), 1, 1);
  factor_ = window_;
  pivots_.resize(uw);
  const int lwork = static_cast<int>(work_.size());
  int info = 0;
  dsytrf_(&uplo, &w, factor_.data(), &w, pivots_.data(), work_.data(), &lwork, &info, 1);
  if (info != 0) return false;  // an exactly singular pivot
  double rcond = 0.0;
  iwork_.resize(uw);
  dsycon_(&uplo, &w, factor_.data(), &w, pivots_.data(), &anorm, &rcond, work_.data(), iwork_.data(), &info, 1);
  if (info != 0 || !(rcond > 0.0)) return false;
  const double inverse_norm = 1.0 / (rcond * anorm);  // estimate of ||W^-1||_1

  // ||C W^-1 C^T||_1 <= ||C||_1 ||W^-1||_1 ||C||_inf.
  double c_one = 0.0;
  std::vector<double>& row_sums = values_;
  row_sums.assign(uc, 0.0);
  for (std::size_t j = 0; j < uw; ++j) {
    double column = 0.0;
    for (std::size_t t = 0; t < uc; ++t) {
      const double x = std::abs(coupling_[j * uc + t]);
      column += x;
      row_sums[t] += x;
    }
    c_one = std::max(c_one, column);
  }
  const double c_inf = row_sums.empty() ? 0.0 : *std::max_element(row_sums.begin(), row_sums.end());
  const double growth = c_one * inverse_norm * c_inf;
  if (!(rounding_error(w, anorm + growth) <= guard)) return false;

  // X = W^-1 C^T (w x c), then the update -C X.
  solved_.resize(uw * uc);
  for (std::size_t t = 0; t < uc; ++t)
    for (std::size_t j = 0; j < uw; ++j) solved_[t * uw + j] = coupling_[j * uc + t];
  dsytrs_(&uplo, &w, &c, factor_.data(), &w, pivots_.data(), solved_.data(), &w, &info, 1);
  if (info != 0) return false;
  update_.assign(uc * uc, 0.0);
  for (std::size_t s = 0; s < uc; ++s) {
    for (std::size_t t = s; t < uc; ++t) {
      double sum = 0.0;
      for (std::size_t j = 0; j < uw; ++j) sum += coupling_[j * uc + t] * solved_[s * uw + j];
      update_[s * uc + t] = -sum;
      update_[t * uc + s] = -sum;
    }
  }
  const ShiftSplit signs = factor_signs(w, factor_.data(), pivots_.data());
  counts.above += signs.above;
  counts.below += signs.below;
  carried_values_.clear();
  carried_coupling_.clear();
  ++factorised_;
  return true;
}

void BandInertia::diagonalise(int w, int c, double guard, ShiftSplit& counts) {
  const auto uw = static_cast<std::size_t>(w);
  const auto uc = static_cast<std::size_t>(c);
  factor_ = window_;
  eigen_.eigenvectors(w, factor_, values_);  // W = Q diag(values) Q^T, Q in factor_
  double norm = 0.0;
  for (double v : values_) norm = std::max(norm, std::abs(v));
  // G = C Q (c x w): the coupling of each eigen-direction.
  solved_.assign(uc * uw, 0.0);
  for (std::size_t i = 0; i < uw; ++i) {
    for (std::size_t j = 0; j < uw; ++j) {
      const double q = factor_[i * uw + j];
      if (q == 0.0) continue;
      for (std::size_t t = 0; t < uc; ++t) solved_[i * uc + t] += coupling_[j * uc + t] * q;
    }
  }
  // A direction's share of the update is |g|^2 / |lambda|; eliminate the
  // cheapest ones while the total keeps its rounding error below the guard.
  cost_.assign(uw, 0.0);
  for (std::size_t i = 0; i < uw; ++i) {
    double g2 = 0.0;
    for (std::size_t t = 0; t < uc; ++t) g2 += solved_[i * uc + t] * solved_[i * uc + t];
    const double lambda = std::abs(values_[i]);
    cost_[i] = g2 == 0.0 ? 0.0 : lambda == 0.0 ? std::numeric_limits<double>::infinity() : g2 / lambda;
  }
  by_cost_.resize(uw);
  std::iota(by_cost_.begin(), by_cost_.end(), 0);
  std::stable_sort(by_cost_.begin(), by_cost_.end(), [this](int x, int y) {
    return cost_[static_cast<std::size_t>(x)] < cost_[static_cast<std::size_t>(y)];
  });
  std::vector<char>& eliminated = elim_;
  eliminated.assign(uw, 0);
  double total = 0.0;
  for (int i : by_cost_) {
    const double cost = cost_[static_cast<std::size_t>(i)];
    if (!(rounding_error(w, norm + total + cost) <= guard)) break;
    total += cost;
    eliminated[static_cast<std::size_t>(i)] = 1;
  }

  update_.assign(uc * uc, 0.0);
  carried_values_.clear();
  carried_coupling_.clear();
  for (std::size_t i = 0; i < uw; ++i) {
    const double lambda = values_[i];
    const double* g = solved_.data() + i * uc;
    if (eliminated[i] == 0) {
      carried_values_.push_back(lambda);
      carried_coupling_.insert(carried_coupling_.end(), g, g + uc);
      continue;
    }
    counts.above += lambda > 0.0 ? 1 : 0;
    counts.below += lambda < 0.0 ? 1 : 0;
    if (lambda == 0.0) continue;  // no coupling at all (a zero cost)
    for (std::size_t s = 0; s < uc; ++s)
      for (std::size_t t = 0; t < uc; ++t) update_[s * uc + t] -= g[t] * g[s] / lambda;
  }
  ++diagonalised_;
}

}  // namespace tessarin::core
