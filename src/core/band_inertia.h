// Eigenvalue counts of a symmetric band matrix on either side of a shift,
// without the eigenvalues, in O(n * w^2) time and O(n * bandwidth + w^2)
// memory, w a window of a few bandwidths.
//
// The shifted matrix A - shift*I is reduced window by window. A window W
// (consecutive rows, after the updates of the windows before it) meets the
// rows after it only in the next `bandwidth` rows, through a block C; by
// Haynsworth's inertia additivity it contributes its own inertia and leaves
// the Schur complement update C W^-1 C^T on those rows. A window is
// factorised by Bunch-Kaufman (dsytrf) when the update, estimated from the
// condition number, is small enough that its rounding error stays below
// `guard`. Otherwise it is diagonalised (dsyevd): its eigen-directions whose
// share of the update is small enough are eliminated (their eigenvalues'
// signs counted), and the others are carried into the next window, where a
// larger window usually resolves them (the orthogonal change of basis keeps
// the inertia). So the counts are exactly those of a matrix that differs
// from the given one by rounding errors of at most about `guard` on each
// window's block and its coupling to the next: within a small multiple of
// `guard` in the 2-norm, since the blocks do not overlap by more than
// neighbours. Without any pivoting across windows an unlucky matrix keeps
// carrying directions; past `max_window` rows in one window the count gives up.
#pragma once

#include <optional>
#include <vector>

#include "core/band_matrix.h"
#include "core/shifted_inertia.h"
#include "core/symmetric_eigen.h"

namespace tessarin::core {

class BandInertia {
 public:
  // Counts of the eigenvalues of `a` above and below `shift` (an eigenvalue
  // found exactly equal to it counts on neither side), or nullopt when a
  // window would outgrow `max_window` rows. Throws InvalidInput for a
  // non-finite entry, shift or guard, or a guard that is not positive.
  std::optional<ShiftSplit> split(const SymmetricBand& a, double shift, double guard, int max_window);

  // Windows factorised, and diagonalised, by the last split (for tests).
  int factorised() const { return factorised_; }
  int diagonalised() const { return diagonalised_; }

 private:
  bool try_factorise(int w, int c, double guard, ShiftSplit& counts);
  void diagonalise(int w, int c, double guard, ShiftSplit& counts);

  int factorised_ = 0;
  int diagonalised_ = 0;
  std::vector<double> window_;            // W, column-major, w x w
  std::vector<double> factor_;            // its factorisation or eigenvectors
  std::vector<double> coupling_;          // C, column-major, c x w
  std::vector<double> solved_;            // W^-1 C^T (w x c) or C Q (c x w)
  std::vector<double> update_;            // C W^-1 C^T, c x c, for the next window
  std::vector<double> carried_values_;    // eigenvalues carried into the next window
  std::vector<double> carried_coupling_;  // their coupling to its first rows, c x r
  std::vector<double> values_;
  std::vector<double> work_;
  std::vector<int> iwork_;
  std::vector<int> pivots_;
  std::vector<int> by_cost_;
  std::vector<char> elim_;
  std::vector<double> cost_;
  SymmetricEigenSolver eigen_;
};

}  // namespace tessarin::core
