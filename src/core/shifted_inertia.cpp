#include "core/shifted_inertia.h"

#include <cmath>
#include <cstddef>

#include "core/errors.h"

extern "C" {
void dsytrf_(const char* uplo, const int* n, double* a, const int* lda, int* ipiv, double* work, const int* lwork,
             int* info, std::size_t uplo_len);
}

namespace tessarin::core {

ShiftSplit ShiftedInertia::split(int n, const std::vector<double>& a, double shift) {
  if (n < 0) throw InvalidInput("matrix order must not be negative");
  const auto un = static_cast<std::size_t>(n);
  if (a.size() < un * un) throw InvalidInput("matrix storage is smaller than n*n");
  if (!std::isfinite(shift)) throw InvalidInput("the shift must be finite");
  ShiftSplit out;
  if (n == 0) return out;
  factor_.resize(un * un);
  for (std::size_t j = 0; j < un; ++j) {
    for (std::size_t i = j; i < un; ++i) {
      const double x = a[j * un + i];
      if (!std::isfinite(x)) throw InvalidInput("matrix entries must be finite");
      factor_[j * un + i] = i == j ? x - shift : x;
    }
  }
  const char uplo = 'L';
  int info = 0;
  if (work_.empty()) work_.resize(64);
  pivots_.resize(un);
  // A workspace of n*64 lets dsytrf use its blocked code; grown on demand.
  if (work_.size() < un * 64) work_.resize(un * 64);
  const int lwork = static_cast<int>(work_.size());
  dsytrf_(&uplo, &n, factor_.data(), &n, pivots_.data(), work_.data(), &lwork, &info, 1);
  if (info < 0) throw InvalidInput("invalid argument to the symmetric factorisation");
  // info > 0: an exactly zero 1x1 pivot, which counts on neither side.
  return factor_signs(n, factor_.data(), pivots_.data());
}

ShiftSplit factor_signs(int n, const double* factor, const int* pivots) {
  const auto un = static_cast<std::size_t>(n);
  ShiftSplit out;
  for (std::size_t k = 0; k < un; ++k) {
    const double d11 = factor[k * un + k];
    if (pivots[k] > 0 || k + 1 == un) {
      out.above += d11 > 0.0 ? 1 : 0;
      out.below += d11 < 0.0 ? 1 : 0;
      continue;
    }
    // A 2x2 block (both pivots negative, lower storage): D(k+1,k) below d11.
    const double d21 = factor[k * un + k + 1];
    const double d22 = factor[(k + 1) * un + k + 1];
    const double det = d11 * d22 - d21 * d21;
    if (det < 0.0) {
      ++out.above;
      ++out.below;
    } else if (det > 0.0) {
      const int sign = d11 + d22 > 0.0 ? 1 : -1;
      (sign > 0 ? out.above : out.below) += 2;
    } else {
      // A singular 2x2 block: one zero eigenvalue, the other has the trace's sign.
      const double trace = d11 + d22;
      out.above += trace > 0.0 ? 1 : 0;
      out.below += trace < 0.0 ? 1 : 0;
    }
    ++k;
  }
  return out;
}

}  // namespace tessarin::core
