// Inverse of a symmetric matrix through LAPACK's Bunch-Kaufman factorisation,
// refused when the matrix is singular or badly conditioned.
#pragma once

#include <vector>

#include "core/shifted_inertia.h"

namespace tessarin::core {

// Replaces the n x n symmetric matrix `a` (column-major, both triangles set)
// by its inverse (both triangles set) and returns true, when LAPACK's
// estimate of the reciprocal 1-norm condition number is at least
// `min_rcond`. Returns false, with `a` unspecified, for a singular or worse
// conditioned matrix.
// When `signs` is given and the inverse succeeds, it receives the numbers of
// positive and negative eigenvalues read off the factorisation (Sylvester's
// law of inertia).
bool invert_symmetric(int n, std::vector<double>& a, double min_rcond, ShiftSplit* signs = nullptr);

}  // namespace tessarin::core
