// Eigenvalue counts on either side of a shift without the eigenvalues:
// Sylvester's law of inertia on a Bunch-Kaufman factorisation
// A - shift*I = L D L^T (LAPACK dsytrf). The signs of D's 1x1 and 2x2 blocks
// are the signs of the eigenvalues of A - shift*I, that is the positions of
// A's eigenvalues against the shift, at a third of the cost of a
// tridiagonalisation. Like computed eigenvalues, the counts can only be
// wrong for an eigenvalue within rounding error of the shift.
#pragma once

#include <vector>

namespace tessarin::core {

struct ShiftSplit {
  int above = 0;  // eigenvalues greater than the shift
  int below = 0;  // eigenvalues less than the shift
};

// The signs of the eigenvalues of a matrix from its Bunch-Kaufman factors
// (dsytrf output with uplo 'L': `factor` column-major n x n, `pivots` its
// ipiv). A zero block eigenvalue counts on neither side.
ShiftSplit factor_signs(int n, const double* factor, const int* pivots);

class ShiftedInertia {
 public:
  // Counts for the n x n symmetric matrix `a` (column-major; only the lower
  // triangle, i >= j, is read; `a` is left unchanged). An eigenvalue equal to
  // the shift (an exactly singular shifted matrix) counts on neither side.
  // Throws InvalidInput for a non-finite entry or shift.
  ShiftSplit split(int n, const std::vector<double>& a, double shift);

 private:
  std::vector<double> factor_;
  std::vector<double> work_;
  std::vector<int> pivots_;
};

}  // namespace tessarin::core
