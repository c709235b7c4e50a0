// Random graphs shaped like orbital graphs, and their counts the plain way,
// for the tests of the count-only LPI.
#pragma once

#include <algorithm>
#include <random>
#include <vector>

#include "counts/index_graph.h"
#include "counts/lpi.h"

namespace tessarin::counts::test_graphs {

using counts::LpiCounts;

// The counts the plain way: every eigenvalue of the matrix.
inline LpiCounts reference_counts(int n, const std::vector<core::WeightedEdge>& edges,
                                  const std::vector<std::size_t>& removed, double tol) {
  std::vector<counts::MatrixEntry> entries;
  for (std::size_t id = 0; id < edges.size(); ++id) {
    if (std::find(removed.begin(), removed.end(), id) == removed.end()) {
      entries.push_back({edges[id].u, edges[id].v, edges[id].weight});
    }
  }
  return counts::lpi_of_undirected_edges(n, entries, tol).counts;
}

// Orbital-graph-like random graphs: clusters of 1, 4 or 9 nodes (cliques of
// weight 1) joined by bond edges of weight 0.9 or random weights.
inline std::vector<core::WeightedEdge> random_cluster_graph(std::mt19937& rng, int& n, bool random_weights) {
  std::vector<int> first;
  n = 0;
  const int atoms = std::uniform_int_distribution<int>(1, 14)(rng);
  std::vector<core::WeightedEdge> edges;
  for (int a = 0; a < atoms; ++a) {
    const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
    const int size = pick < 5 ? 1 : pick < 9 ? 4 : 9;
    const int sigma = size == 1 ? 1 : std::uniform_int_distribution<int>(size - 2, size)(rng);
    first.push_back(n);
    for (int i = 0; i < sigma; ++i)
      for (int j = i + 1; j < sigma; ++j) edges.push_back({n + i, n + j, 1.0});
    n += size;
  }
  first.push_back(n);
  std::uniform_real_distribution<double> weight(0.2, 1.6);
  // A spanning tree of atoms, then a few ring closures.
  auto bond = [&](int a, int b) {
    const int u = first[a] + std::uniform_int_distribution<int>(0, first[a + 1] - first[a] - 1)(rng);
    const int v = first[b] + std::uniform_int_distribution<int>(0, first[b + 1] - first[b] - 1)(rng);
    for (const core::WeightedEdge& e : edges)
      if ((e.u == u && e.v == v) || (e.u == v && e.v == u)) return;
    edges.push_back({u, v, random_weights ? weight(rng) : 0.9});
  };
  for (int a = 1; a < atoms; ++a) bond(std::uniform_int_distribution<int>(0, a - 1)(rng), a);
  const int closures = std::uniform_int_distribution<int>(0, 3)(rng);
  for (int c = 0; c < closures && atoms > 2; ++c) {
    const int a = std::uniform_int_distribution<int>(0, atoms - 1)(rng);
    const int b = std::uniform_int_distribution<int>(0, atoms - 1)(rng);
    if (a != b) bond(a, b);
  }
  return edges;
}

}  // namespace tessarin::counts::test_graphs
