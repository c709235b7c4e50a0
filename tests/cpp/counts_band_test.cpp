// Band storage for large, narrow graphs: the renumbering, the band
// eigenvalues and the band counts, each against the dense computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "core/band_inertia.h"
#include "core/errors.h"
#include "core/shifted_inertia.h"
#include "counts/band_counts.h"
#include "counts/band_ordering.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "counts/lpi.h"
#include "molecule/prepare_molecule.h"
#include "random_orbital_graphs.h"

namespace tessarin::counts {
namespace {

using AtomBonds = std::vector<std::pair<int, int>>;

// An alkane-like orbital graph over an atom graph: four nodes per atom (a
// clique of weight 1), one node of each end per bond (0.9, or random weights),
// a hydrogen (0.9) on every node left free. Node ids are shuffled.
std::vector<core::WeightedEdge> orbital_graph(int atoms, const AtomBonds& bonds, std::mt19937& rng, bool random_weights,
                                              int& n) {
  std::vector<core::WeightedEdge> edges;
  std::vector<int> used(static_cast<std::size_t>(atoms), 0);
  std::uniform_real_distribution<double> weight(0.2, 1.6);
  auto w = [&](double plain) { return random_weights ? weight(rng) : plain; };
  for (int a = 0; a < atoms; ++a)
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) edges.push_back({4 * a + i, 4 * a + j, w(1.0)});
  for (const auto& [a, b] : bonds)
    edges.push_back({4 * a + used[static_cast<std::size_t>(a)]++, 4 * b + used[static_cast<std::size_t>(b)]++, w(0.9)});
  n = 4 * atoms;
  for (int a = 0; a < atoms; ++a)
    for (int i = used[static_cast<std::size_t>(a)]; i < 4; ++i) edges.push_back({4 * a + i, n++, w(0.9)});
  std::vector<int> relabel(static_cast<std::size_t>(n));
  std::iota(relabel.begin(), relabel.end(), 0);
  std::shuffle(relabel.begin(), relabel.end(), rng);
  for (core::WeightedEdge& e : edges) {
    e.u = relabel[static_cast<std::size_t>(e.u)];
    e.v = relabel[static_cast<std::size_t>(e.v)];
  }
  return edges;
}

AtomBonds chain(int atoms, int from = 0) {
  AtomBonds bonds;
  for (int a = 1; a < atoms; ++a) bonds.emplace_back(from + a - 1, from + a);
  return bonds;
}

// Two chains joined rung by rung every other atom: a strip of fused rings.
AtomBonds fused_rings(int length) {
  AtomBonds bonds = chain(length);
  for (auto [a, b] : chain(length, length)) bonds.emplace_back(a, b);
  for (int a = 0; a < length; a += 2) bonds.emplace_back(a, length + a);
  return bonds;
}

// Each atom bonds to one of the five before it, and now and then a ring closes nearby.
AtomBonds random_sparse(int atoms, std::mt19937& rng) {
  AtomBonds bonds;
  std::vector<int> degree(static_cast<std::size_t>(atoms), 0);
  auto bond = [&](int a, int b) {
    if (a == b || degree[static_cast<std::size_t>(a)] == 4 || degree[static_cast<std::size_t>(b)] == 4) return;
    if (std::find(bonds.begin(), bonds.end(), std::pair{std::min(a, b), std::max(a, b)}) != bonds.end()) return;
    bonds.emplace_back(std::min(a, b), std::max(a, b));
    ++degree[static_cast<std::size_t>(a)];
    ++degree[static_cast<std::size_t>(b)];
  };
  for (int a = 1; a < atoms; ++a) bond(std::uniform_int_distribution<int>(std::max(0, a - 5), a - 1)(rng), a);
  for (int a = 6; a < atoms; a += 7) bond(a, a - std::uniform_int_distribution<int>(2, 6)(rng));
  return bonds;
}

struct Family {
  const char* name;
  int atoms;
  AtomBonds bonds;
  bool random_weights;
};

std::vector<Family> families(std::mt19937& rng) {
  AtomBonds ring = chain(150);
  ring.emplace_back(0, 149);
  AtomBonds apart = chain(60);  // three chains and four lone atoms
  for (auto b : chain(80, 60)) apart.push_back(b);
  for (auto b : chain(100, 140)) apart.push_back(b);
  return {{"chain", 300, chain(300), false},
          {"ring", 150, ring, false},
          {"fused rings", 240, fused_rings(120), false},
          {"random sparse", 200, random_sparse(200, rng), true},
          {"disconnected", 244, apart, false}};
}

std::vector<MatrixEntry> entries_of(const std::vector<core::WeightedEdge>& edges) {
  std::vector<MatrixEntry> out;
  for (const core::WeightedEdge& e : edges) out.push_back({e.u, e.v, e.weight});
  return out;
}

TEST(BandOrdering, FindsTheNarrowNumberingOfShuffledGraphsAlwaysAlike) {
  std::mt19937 rng(5);
  auto shuffled = [&rng](int n, std::vector<std::pair<int, int>> pairs) {
    std::vector<int> relabel(static_cast<std::size_t>(n));
    std::iota(relabel.begin(), relabel.end(), 0);
    std::shuffle(relabel.begin(), relabel.end(), rng);
    for (auto& [a, b] : pairs) a = relabel[static_cast<std::size_t>(a)], b = relabel[static_cast<std::size_t>(b)];
    return SparsePattern::from_pairs(n, pairs);
  };
  std::vector<std::pair<int, int>> path, grid;
  for (int i = 1; i < 1000; ++i) path.emplace_back(i - 1, i);
  for (int r = 0; r < 100; ++r)
    for (int c = 0; c < 10; ++c) {
      if (c > 0) grid.emplace_back(10 * r + c - 1, 10 * r + c);
      if (r > 0) grid.emplace_back(10 * (r - 1) + c, 10 * r + c);
    }
  const SparsePattern p = shuffled(1000, path);
  EXPECT_EQ(band_ordering(p).bandwidth, 1);
  const SparsePattern g = shuffled(1000, grid);
  const BandOrdering once = band_ordering(g);
  EXPECT_LE(once.bandwidth, 11);
  EXPECT_EQ(band_ordering(g).order, once.order);
  for (int k = 0; k < 1000; ++k)
    ASSERT_EQ(once.position[static_cast<std::size_t>(once.order[static_cast<std::size_t>(k)])], k);
  EXPECT_EQ(bandwidth_under(g, once.position), once.bandwidth);
  // Repeated and reversed pairs and self-pairs are one pattern.
  const std::vector<std::pair<int, int>> messy{{0, 1}, {1, 0}, {0, 1}, {2, 2}, {2, 1}};
  const SparsePattern m = SparsePattern::from_pairs(3, messy);
  EXPECT_EQ(m.neighbour, (std::vector<int>{1, 0, 2, 1}));
}

TEST(BandEigenvalues, EqualDenseOnesOnOrbitalLikeGraphs) {
  std::mt19937 rng(11);
  for (const Family& f : families(rng)) {
    int n = 0;
    const std::vector<MatrixEntry> edges = entries_of(orbital_graph(f.atoms, f.bonds, rng, f.random_weights, n));
    ASSERT_GE(n, kMinBandNodes) << f.name;
    const Lpi dense = lpi_of_undirected_edges(n, edges, 1e-9, EigenPath::dense);
    const Lpi chosen = lpi_of_undirected_edges(n, edges, 1e-9);
    EXPECT_EQ(chosen.eigenvalues, lpi_of_undirected_edges(n, edges, 1e-9, EigenPath::band).eigenvalues) << f.name;
    EXPECT_EQ(chosen.counts, dense.counts) << f.name;
    ASSERT_EQ(chosen.eigenvalues.size(), dense.eigenvalues.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < dense.eigenvalues.size(); ++i)
      worst = std::max(worst, std::abs(chosen.eigenvalues[i] - dense.eigenvalues[i]));
    EXPECT_LE(worst, 1e-9) << f.name;
  }
}

TEST(BandEigenvalues, ReadTheLowerTriangleAndSumRepeatsAsTheDenseSolverDoes) {
  // Entries on both sides of the diagonal with different values, repeats and
  // diagonal entries: only row >= col counts, summed.
  std::mt19937 rng(3);
  std::vector<MatrixEntry> entries;
  const int n = 700;
  for (int i = 0; i < n; ++i) {
    entries.push_back({i, i, std::uniform_real_distribution<double>(-1.0, 1.0)(rng)});
    for (int d = 1; d <= 3 && i + d < n; ++d) {
      entries.push_back({i + d, i, 0.5 * d});
      entries.push_back({i + d, i, 0.25});
      entries.push_back({i, i + d, 100.0 * d});  // upper triangle: never read
    }
  }
  const Lpi dense = lpi_of_entries(n, entries, 1e-9, EigenPath::dense);
  const Lpi band = lpi_of_entries(n, entries, 1e-9, EigenPath::band);
  EXPECT_EQ(band.counts, dense.counts);
  for (std::size_t i = 0; i < dense.eigenvalues.size(); ++i)
    ASSERT_NEAR(band.eigenvalues[i], dense.eigenvalues[i], 1e-9);
  // Wide graphs keep the dense path: a star's centre meets every node.
  std::vector<MatrixEntry> star;
  for (int i = 1; i < n; ++i) star.push_back({0, i, 1.0});
  EXPECT_EQ(lpi_of_undirected_edges(n, star, 1e-9).eigenvalues,
            lpi_of_undirected_edges(n, star, 1e-9, EigenPath::dense).eigenvalues);
}

// Zero diagonal, random weights between nodes of a band that lie on opposite
// sides of a bipartition whose sides alternate in size every 40 nodes (a
// third of the nodes on one side, then two thirds): every window of 32 rows is
// lopsided, so singular, while the whole matrix is hardly so.
core::SymmetricBand lopsided_bipartite(int n, int kd, std::mt19937& rng) {
  core::SymmetricBand band(n, kd);
  std::uniform_real_distribution<double> weight(0.3, 1.5);
  auto side = [](int i) { return ((i / 40) % 2 == 0) == (i % 3 == 0); };
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i <= std::min(n - 1, j + kd); ++i)
      if (side(i) != side(j) && rng() % 2 == 0) band.lower(i, j) = weight(rng);
  return band;
}

core::ShiftSplit dense_split(const core::SymmetricBand& band, double shift) {
  const int n = band.order();
  std::vector<double> a(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = j; i <= std::min(n - 1, j + band.bandwidth()); ++i)
      a[static_cast<std::size_t>(j) * n + i] = band.lower(i, j);
  core::ShiftedInertia inertia;
  return inertia.split(n, a, shift);
}

TEST(BandInertia, CountsLikeBunchKaufmanThroughSingularWindows) {
  std::mt19937 rng(17);
  core::BandInertia inertia;
  int diagonalised = 0;
  for (int trial = 0; trial < 12; ++trial) {
    const int n = 300 + 50 * trial;
    const int kd = 2 + trial % 5;
    const core::SymmetricBand band = lopsided_bipartite(n, kd, rng);
    for (double shift : {5e-10, 1.5e-9, -5e-10, -1.5e-9, 0.3}) {
      const auto split = inertia.split(band, shift, 1e-9 / 32, 512);
      ASSERT_TRUE(split) << "trial " << trial;
      const core::ShiftSplit dense = dense_split(band, shift);
      EXPECT_EQ(split->above, dense.above) << "trial " << trial << " shift " << shift;
      EXPECT_EQ(split->below, dense.below) << "trial " << trial << " shift " << shift;
      diagonalised += inertia.diagonalised();
    }
  }
  EXPECT_GT(diagonalised, 0);  // the carried directions were exercised
  // A window cap too small for what must be carried: no answer rather than a wrong one.
  std::mt19937 again(17);
  EXPECT_FALSE(inertia.split(lopsided_bipartite(600, 6, again), 5e-10, 1e-30, 40));
}

TEST(BandCounts, EqualDenseCountsOnSingularGraphsAndPeeledCores) {
  std::mt19937 rng(23);
  BandCounter counter;
  for (int trial = 0; trial < 4; ++trial) {
    const core::SymmetricBand band = lopsided_bipartite(900, 3 + trial, rng);
    std::vector<MatrixEntry> lower;
    for (int j = 0; j < band.order(); ++j)
      for (int i = j + 1; i <= std::min(band.order() - 1, j + band.bandwidth()); ++i)
        if (band.lower(i, j) != 0.0) lower.push_back({i, j, band.lower(i, j)});
    const auto counts = counter.count(band.order(), lower, 1e-9);
    ASSERT_TRUE(counts);
    EXPECT_EQ(*counts, lpi_of_entries(band.order(), lower, 1e-9, EigenPath::dense).counts);
  }
  EXPECT_EQ(counter.certified(), 4);

  // A strip of fused rings peels down to one large core, counted in band storage.
  int n = 0;
  const std::vector<core::WeightedEdge> edges = orbital_graph(240, fused_rings(120), rng, false, n);
  const IndexGraph graph(n, edges);
  InertiaCounter peeled;
  for (std::size_t id : {std::size_t{0}, edges.size() / 2, edges.size() - 1}) {
    const std::vector<std::size_t> removed{id};
    const LpiCounts counts = peeled.count(graph, removed, 1e-9, CountMethod::peeled);
    ASSERT_GE(peeled.last_peel().core_nodes, kMinBandNodes);
    EXPECT_EQ(counts, test_graphs::reference_counts(n, edges, removed, 1e-9));
  }
}

TEST(BandCounts, NarrowGraphsNeverAskForTheDenseMatrix) {
  // 400,000 nodes in a path with a self-loop: no peeling, dense counts would need 1.3 TB.
  std::vector<core::WeightedEdge> edges{{0, 0, 1.0}};
  for (int i = 1; i < 400000; ++i) edges.push_back({i - 1, i, i % 2 == 0 ? 1.0 : 0.9});
  const IndexGraph path(400000, edges);
  EXPECT_NO_THROW(check_whole_graph_count_fits(path));
  std::vector<core::WeightedEdge> star;
  for (int i = 1; i < 400000; ++i) star.push_back({0, i, 1.0});
  EXPECT_THROW(check_whole_graph_count_fits(IndexGraph(400000, star)), InsufficientMemory);
}

}  // namespace
}  // namespace tessarin::counts

namespace tessarin::analysis {
namespace {

TEST(OrbitalGraphFits, ChainsOfAnyLengthPassAndWideMoleculesTooLargeForMemoryAreRefused) {
  // C100000: 700,002 orbital nodes, whose dense matrix would take 3.9 TB; a
  // chain's band takes some tens of megabytes.
  EXPECT_NO_THROW(check_orbital_graph_fits(*molecule::prepare_molecule(std::string(100000, 'C'))));
  // A complete binary tree of 16,383 carbons: no narrow numbering exists.
  std::function<std::string(int)> tree = [&tree](int depth) {
    return depth == 0 ? std::string("C") : "C(" + tree(depth - 1) + ")" + tree(depth - 1);
  };
  EXPECT_THROW(check_orbital_graph_fits(*molecule::prepare_molecule(tree(13))), InsufficientMemory);
}

}  // namespace
}  // namespace tessarin::analysis
