// Inverses of peeled core blocks, remembered per block matrix.
//
// Deleting an edge that lies inside a core block of a graph leaves the
// peeling of the rest untouched (both ends stay in the core), so the counts
// of the edited graph differ from the intact ones only through the block:
// inertia(B - edge) against inertia(B). The rank-two rule of
// EdgeRemovalScreen answers that from the entries of B's inverse. Different
// atom sets of a molecule mostly peel down to the same few blocks, so one
// inverse serves many deletions.
//
// The factorisation behind the inverse also gives the block's own counts:
// its inertia, and a lower bound on the smallest eigenvalue magnitude,
// 1 / ||B^-1||_F, that tells whether any eigenvalue can lie within a
// threshold of zero.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "counts/inertia.h"
#include "counts/lpi.h"

namespace tessarin::counts {

struct BlockInverse {
  std::vector<double> inverse;  // column-major, n x n, both triangles
  int positive = 0;             // eigenvalue signs of the block
  int negative = 0;
  double min_abs_eigenvalue = 0;  // lower bound, 1 / ||B^-1||_F

  // The block's counts against `tol` when no eigenvalue can lie near it
  // (all at least a thousand times tol away from zero); nullopt otherwise.
  std::optional<counts::LpiCounts> counts(double tol) const;
};

class CoreBlockInverses {
 public:
  // The inverse of the block's matrix, or null when the block has more than
  // EdgeRemovalScreen::kMaxInverseNodes nodes or is singular or badly
  // conditioned. The pointer stays valid until clear().
  const BlockInverse* inverse(const CoreBlock& block);

  std::size_t size() const { return cache_.size(); }
  long long inversions() const { return inversions_; }
  void clear() { cache_.clear(); }

 private:
  // A block without a usable inverse keeps an empty one.
  std::unordered_map<std::string, BlockInverse> cache_;
  std::string key_;
  long long inversions_ = 0;
};

}  // namespace tessarin::counts
