#include "core/symmetric_eigen.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "core/errors.h"

extern "C" void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
                        double* work, const int* lwork, int* iwork, const int* liwork, int* info, std::size_t jobz_len,
                        std::size_t uplo_len);

namespace tessarin::core {

void SymmetricEigenSolver::run(char jobz, int n, std::vector<double>& a, std::vector<double>& values) {
  if (n < 0) throw InvalidInput("matrix order must not be negative");
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  if (a.size() < nn) throw InvalidInput("matrix storage is smaller than n*n");
  values.assign(static_cast<std::size_t>(n), 0.0);
  if (n == 0) return;
  for (int j = 0; j < n; ++j) {
    for (int i = j; i < n; ++i) {
      if (!std::isfinite(a[static_cast<std::size_t>(j) * n + i])) {
        throw InvalidInput("matrix entry (" + std::to_string(i) + ", " + std::to_string(j) + ") is not finite");
      }
    }
  }

  const char uplo = 'L';
  const int lda = n;
  int info = 0;
  // Workspace query, as NumPy does: the blocked reduction it enables changes
  // the rounding, so the sizes must match NumPy's to reproduce its digits.
  double work_query = 0.0;
  int iwork_query = 0;
  const int query = -1;
  dsyevd_(&jobz, &uplo, &n, a.data(), &lda, values.data(), &work_query, &query, &iwork_query, &query, &info, 1, 1);
  if (info != 0) throw std::runtime_error("LAPACK dsyevd workspace query failed (info " + std::to_string(info) + ")");
  const int lwork = static_cast<int>(work_query);
  const int liwork = iwork_query;
  if (work_.size() < static_cast<std::size_t>(lwork)) work_.resize(static_cast<std::size_t>(lwork));
  if (iwork_.size() < static_cast<std::size_t>(liwork)) iwork_.resize(static_cast<std::size_t>(liwork));

  dsyevd_(&jobz, &uplo, &n, a.data(), &lda, values.data(), work_.data(), &lwork, iwork_.data(), &liwork, &info, 1, 1);
  if (info != 0) {
    throw std::runtime_error("symmetric eigenvalue computation did not converge (LAPACK info " + std::to_string(info) +
                             ")");
  }
}

void SymmetricEigenSolver::eigenvalues(int n, std::vector<double>& a, std::vector<double>& values) {
  run('N', n, a, values);
}

void SymmetricEigenSolver::eigenvectors(int n, std::vector<double>& a, std::vector<double>& values) {
  run('V', n, a, values);
}

std::vector<double> symmetric_eigenvalues(int n, std::vector<double> a) {
  thread_local SymmetricEigenSolver solver;
  std::vector<double> values;
  solver.eigenvalues(n, a, values);
  return values;
}

}  // namespace tessarin::core
