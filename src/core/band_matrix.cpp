#include "core/band_matrix.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "core/errors.h"

extern "C" void dsbevd_(const char* jobz, const char* uplo, const int* n, const int* kd, double* ab, const int* ldab,
                        double* w, double* z, const int* ldz, double* work, const int* lwork, int* iwork,
                        const int* liwork, int* info, std::size_t jobz_len, std::size_t uplo_len);

namespace tessarin::core {

void SymmetricBand::reset(int n, int bandwidth) {
  if (n < 0) throw InvalidInput("matrix order must not be negative");
  if (bandwidth < 0 || (n > 0 && bandwidth >= n)) {
    throw InvalidInput("a band of " + std::to_string(bandwidth) + " sub-diagonals does not fit a matrix of order " +
                       std::to_string(n));
  }
  n_ = n;
  kd_ = bandwidth;
  data_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(bandwidth + 1), 0.0);
}

void BandEigenSolver::eigenvalues(SymmetricBand& band, std::vector<double>& values) {
  const int n = band.order();
  values.assign(static_cast<std::size_t>(n), 0.0);
  if (n == 0) return;
  const int kd = band.bandwidth();
  for (int j = 0; j < n; ++j) {
    for (int i = j; i <= std::min(n - 1, j + kd); ++i) {
      if (!std::isfinite(band.lower(i, j))) {
        throw InvalidInput("matrix entry (" + std::to_string(i) + ", " + std::to_string(j) + ") is not finite");
      }
    }
  }
  const char jobz = 'N';
  const char uplo = 'L';
  const int ldab = band.leading_dimension();
  const int ldz = 1;
  double z = 0.0;
  // Eigenvalues only: 2n of work (n for n = 1), one integer.
  const int lwork = n > 1 ? 2 * n : 1;
  const int liwork = 1;
  if (work_.size() < static_cast<std::size_t>(lwork)) work_.resize(static_cast<std::size_t>(lwork));
  if (iwork_.empty()) iwork_.resize(1);
  int info = 0;
  dsbevd_(&jobz, &uplo, &n, &kd, band.data(), &ldab, values.data(), &z, &ldz, work_.data(), &lwork, iwork_.data(),
          &liwork, &info, 1, 1);
  if (info != 0) {
    throw std::runtime_error("band eigenvalue computation did not converge (LAPACK info " + std::to_string(info) + ")");
  }
}

}  // namespace tessarin::core
