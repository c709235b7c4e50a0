// Symmetric band matrices: LAPACK's lower band storage and the eigenvalues
// of such a matrix (dsbevd), in O(n * bandwidth) memory.
#pragma once

#include <cstddef>
#include <vector>

namespace tessarin::core {

// An n x n symmetric matrix whose entries vanish more than `bandwidth`
// places off the diagonal, stored as its lower band: column j holds rows
// j..min(n-1, j+bandwidth), entry (i, j) at data()[(i - j) + j * (bandwidth + 1)].
class SymmetricBand {
 public:
  SymmetricBand() = default;
  SymmetricBand(int n, int bandwidth) { reset(n, bandwidth); }

  // The zero matrix of that order and bandwidth (storage reused). Throws
  // InvalidInput for a negative order or bandwidth, or a bandwidth of n or more
  // on a non-empty matrix.
  void reset(int n, int bandwidth);

  int order() const { return n_; }
  int bandwidth() const { return kd_; }
  int leading_dimension() const { return kd_ + 1; }

  // Entry (i, j) of the lower band: j <= i <= j + bandwidth (not checked).
  double& lower(int i, int j) { return data_[index(i, j)]; }
  double lower(int i, int j) const { return data_[index(i, j)]; }

  double* data() { return data_.data(); }
  const double* data() const { return data_.data(); }

  // Bytes of storage a matrix of that order and bandwidth takes.
  static double storage_bytes(long long n, long long bandwidth) {
    return static_cast<double>(n) * static_cast<double>(bandwidth + 1) * sizeof(double);
  }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i - j) + static_cast<std::size_t>(j) * static_cast<std::size_t>(kd_ + 1);
  }
  int n_ = 0;
  int kd_ = 0;
  std::vector<double> data_;
};

class BandEigenSolver {
 public:
  // Eigenvalues, ascending, of the band matrix (LAPACK dsbevd, lower band:
  // reduction to tridiagonal form by orthogonal transformations, then the
  // tridiagonal QR iteration). The band is overwritten. Throws InvalidInput
  // for a non-finite entry and std::runtime_error when LAPACK does not
  // converge.
  void eigenvalues(SymmetricBand& band, std::vector<double>& values);

 private:
  std::vector<double> work_;
  std::vector<int> iwork_;
};

}  // namespace tessarin::core
