// Node orderings that gather a sparse symmetric matrix's non-zeros near the
// diagonal (reverse Cuthill-McKee), and the bandwidth an ordering gives.
//
// Molecular orbital graphs are sparse and, suitably numbered, narrow: a
// chain, a polymer or a peptide has a bandwidth of tens of nodes whatever
// its length, which band storage turns into O(n * bandwidth) memory.
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace tessarin::counts {

// The off-diagonal non-zero pattern of a symmetric matrix: the neighbours of
// node u are neighbour[offset[u] .. offset[u+1]), ascending, each once.
struct SparsePattern {
  int n = 0;
  std::vector<int> offset{0};
  std::vector<int> neighbour;

  // From node pairs (i, j), either direction, repeats allowed; pairs with
  // i == j are left out. Every index must lie in 0..n-1 (not checked).
  static SparsePattern from_pairs(int n, std::span<const std::pair<int, int>> pairs);

  int degree(int u) const { return offset[static_cast<std::size_t>(u) + 1] - offset[static_cast<std::size_t>(u)]; }
};

// A numbering of the nodes: position[u] is node u's place, order[k] the node
// in place k, and the bandwidth it gives (largest |position[u] - position[v]|
// over the pattern's pairs; 0 without pairs).
struct BandOrdering {
  std::vector<int> position;
  std::vector<int> order;
  int bandwidth = 0;
};

// Reverse Cuthill-McKee, deterministic: connected components in the order of
// their smallest node, each started from a pseudo-peripheral node (George and
// Liu's search from the component's node of least degree, ties to the smaller
// id), neighbours taken by ascending degree, then id; each component's
// sequence reversed. The given numbering is kept instead when its bandwidth
// is no larger. O(pairs * log(degree)) time, O(n + pairs) memory.
BandOrdering band_ordering(const SparsePattern& pattern);

// The bandwidth of the pattern under `position`.
int bandwidth_under(const SparsePattern& pattern, std::span<const int> position);

}  // namespace tessarin::counts
