// Count-only LPI of a large, narrow graph (or core block) in band storage,
// with the same counts as the dense count.
//
// The dense count classifies eigenvalues against +-tol (or, for core
// blocks, reads the inertia of A -+ tol*I from Bunch-Kaufman factors); both
// can only go wrong for an eigenvalue within rounding of +-tol. The band
// count takes the inertia of A - s*I at the four shifts s = +-tol +- tol/2
// (core::BandInertia, rounding held to tol/32 per window). When the two
// shifts around +tol give the same number of eigenvalues above, no
// eigenvalue lies within about tol/2 of +tol, and every way of counting,
// dense ones included, finds that number above tol; likewise below -tol.
// When a pair disagrees (an eigenvalue near the threshold: a nearly
// singular graph) the band count declines, and the caller counts densely,
// which is then the very computation the dense path makes. Only when the
// dense matrix would not fit in memory does the band count settle such a
// graph itself, from band eigenvalues (count_signs, as the LPI does).
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "core/band_inertia.h"
#include "core/band_matrix.h"
#include "counts/band_ordering.h"
#include "counts/lpi.h"

namespace tessarin::counts {

class BandCounter {
 public:
  // Counts of the symmetric m x m matrix whose lower triangle is `lower`
  // (row >= col, local indices, repeated entries summed), or nullopt when the
  // dense count should be made instead: the matrix is below kMinBandNodes
  // nodes, its renumbered bandwidth makes eigen_path() dense, tol <= 0, or the
  // band counts could not be certified and the dense matrix fits in memory.
  // Throws InsufficientMemory when not even the band fits.
  std::optional<LpiCounts> count(int m, std::span<const MatrixEntry> lower, double tol);

  // Band counts certified / settled from band eigenvalues, since construction.
  long long certified() const { return certified_; }
  long long from_eigenvalues() const { return from_eigenvalues_; }

 private:
  std::optional<LpiCounts> certified_counts(int m, double tol);

  core::SymmetricBand band_;
  core::BandInertia inertia_;
  core::BandEigenSolver eigen_;
  std::vector<std::pair<int, int>> pairs_;
  std::vector<double> values_;
  long long certified_ = 0;
  long long from_eigenvalues_ = 0;
};

}  // namespace tessarin::counts
