#include "core/symmetric_inverse.h"

#include <algorithm>
#include <cstddef>

#include "core/errors.h"

extern "C" {
void dsytrf_(const char* uplo, const int* n, double* a, const int* lda, int* ipiv, double* work, const int* lwork,
             int* info, std::size_t uplo_len);
void dsytri_(const char* uplo, const int* n, double* a, const int* lda, const int* ipiv, double* work, int* info,
             std::size_t uplo_len);
void dsycon_(const char* uplo, const int* n, const double* a, const int* lda, const int* ipiv, const double* anorm,
             double* rcond, double* work, int* iwork, int* info, std::size_t uplo_len);
double dlansy_(const char* norm, const char* uplo, const int* n, const double* a, const int* lda, double* work,
               std::size_t norm_len, std::size_t uplo_len);
}

namespace tessarin::core {

bool invert_symmetric(int n, std::vector<double>& a, double min_rcond, ShiftSplit* signs) {
  if (n < 0) throw InvalidInput("matrix order must not be negative");
  const auto un = static_cast<std::size_t>(n);
  if (a.size() < un * un) throw InvalidInput("matrix storage is smaller than n*n");
  if (n == 0) {
    if (signs != nullptr) *signs = {};
    return true;
  }
  const char uplo = 'L';
  const char norm = '1';
  const int lda = n;
  int info = 0;
  std::vector<double> work(std::max<std::size_t>(un * 64, 1));
  const double anorm = dlansy_(&norm, &uplo, &n, a.data(), &lda, work.data(), 1, 1);

  std::vector<int> ipiv(un);
  const int lwork = static_cast<int>(work.size());
  dsytrf_(&uplo, &n, a.data(), &lda, ipiv.data(), work.data(), &lwork, &info, 1);
  if (info != 0) return false;  // exactly singular (info > 0) or bad argument

  double rcond = 0.0;
  std::vector<int> iwork(un);
  dsycon_(&uplo, &n, a.data(), &lda, ipiv.data(), &anorm, &rcond, work.data(), iwork.data(), &info, 1);
  if (info != 0 || !(rcond >= min_rcond)) return false;

  if (signs != nullptr) *signs = factor_signs(n, a.data(), ipiv.data());
  dsytri_(&uplo, &n, a.data(), &lda, ipiv.data(), work.data(), &info, 1);
  if (info != 0) return false;
  for (std::size_t j = 0; j < un; ++j)
    for (std::size_t i = j + 1; i < un; ++i) a[i * un + j] = a[j * un + i];
  return true;
}

}  // namespace tessarin::core
