// Symmetric eigenproblems through LAPACK's dsyevd, called the way NumPy's
// eigvalsh/eigh call it (lower triangle, optimal workspace from a query), so
// that results agree with NumPy's bit for bit on the same LAPACK.
#pragma once

#include <vector>

namespace tessarin::core {

class SymmetricEigenSolver {
 public:
  // Eigenvalues, ascending, of the n x n symmetric matrix `a` stored
  // column-major (only the lower triangle, i >= j, is read). `a` is
  // overwritten. Throws InvalidInput for non-finite entries and
  // std::runtime_error when LAPACK does not converge.
  void eigenvalues(int n, std::vector<double>& a, std::vector<double>& values);

  // Eigenvalues ascending and, in `a`, the matching unit eigenvectors as
  // columns (column-major), with LAPACK's sign convention.
  void eigenvectors(int n, std::vector<double>& a, std::vector<double>& values);

 private:
  void run(char jobz, int n, std::vector<double>& a, std::vector<double>& values);
  std::vector<double> work_;
  std::vector<int> iwork_;
};

// One-shot convenience over a thread-local solver.
std::vector<double> symmetric_eigenvalues(int n, std::vector<double> a);

}  // namespace tessarin::core
