#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/errors.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "counts/lpi.h"
#include "ms/soft_bonds.h"
#include "random_orbital_graphs.h"

namespace tessarin::counts {
namespace {

using counts::LpiCounts;
using test_graphs::random_cluster_graph;
using test_graphs::reference_counts;

TEST(PeeledCount, AgreesWithEigenvaluesOnRandomOrbitalLikeGraphs) {
  std::mt19937 rng(20240611);
  InertiaCounter counter;
  int peeled_away = 0;
  for (int trial = 0; trial < 400; ++trial) {
    int n = 0;
    const std::vector<core::WeightedEdge> edges = random_cluster_graph(rng, n, trial % 2 == 1);
    const IndexGraph graph(n, edges);
    ASSERT_TRUE(peeling_applies(graph, 1e-9));
    std::vector<std::vector<std::size_t>> removals{{}};
    for (std::size_t id = 0; id < edges.size(); id += 3) removals.push_back({id});
    if (edges.size() > 2) removals.push_back({0, edges.size() - 1});
    for (const auto& removed : removals) {
      const LpiCounts peeled = counter.count(graph, removed, 1e-9, CountMethod::peeled);
      peeled_away += counter.last_peel().active_nodes - counter.last_peel().core_nodes;
      ASSERT_EQ(peeled, reference_counts(n, edges, removed, 1e-9)) << "trial " << trial;
      ASSERT_EQ(peeled, counter.count(graph, removed, 1e-9, CountMethod::dense));
    }
  }
  EXPECT_GT(peeled_away, 0);
}

TEST(PeeledCount, HandlesIsolatedNodesPathsTreesAndCycles) {
  InertiaCounter counter;
  auto counts = [&](int n, std::vector<core::WeightedEdge> edges) {
    return counter.count(IndexGraph(n, edges), {}, 1e-9, CountMethod::peeled);
  };
  EXPECT_EQ(counts(0, {}), (LpiCounts{0, 0, 0}));
  EXPECT_EQ(counts(3, {}), (LpiCounts{0, 3, 0}));
  EXPECT_EQ(counts(2, {{0, 1, 1.0}}), (LpiCounts{1, 0, 1}));
  EXPECT_EQ(counts(3, {{0, 1, 1.0}, {1, 2, 1.0}}), (LpiCounts{1, 1, 1}));  // path: -sqrt2, 0, sqrt2
  EXPECT_EQ(counter.last_peel().core_nodes, 0);
  // A star is all tree: one pair peels, the other leaves become isolated.
  EXPECT_EQ(counts(5, {{0, 1, 1.0}, {0, 2, 1.0}, {0, 3, 1.0}, {0, 4, 1.0}}), (LpiCounts{1, 3, 1}));
  // Triangle: 2, -1, -1. Square: 2, 0, 0, -2. Nothing to peel in either.
  EXPECT_EQ(counts(3, {{0, 1, 1.0}, {1, 2, 1.0}, {0, 2, 1.0}}), (LpiCounts{1, 0, 2}));
  EXPECT_EQ(counts(4, {{0, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}, {3, 0, 1.0}}), (LpiCounts{1, 2, 1}));
  EXPECT_EQ(counter.last_peel().core_nodes, 4);
  // Zero-weight edges add nothing to the matrix, so they do not hold nodes together.
  EXPECT_EQ(counts(2, {{0, 1, 0.0}}), (LpiCounts{0, 2, 0}));
}

TEST(PeeledCount, InducedSubgraphsMatchTheirOwnEigenvalues) {
  std::mt19937 rng(7);
  InertiaCounter counter;
  for (int trial = 0; trial < 100; ++trial) {
    int n = 0;
    const std::vector<core::WeightedEdge> edges = random_cluster_graph(rng, n, false);
    const IndexGraph graph(n, edges);
    std::vector<int> nodes;
    for (int v = n - 1; v >= 0; --v)
      if (std::uniform_int_distribution<int>(0, 2)(rng) != 0) nodes.push_back(v);
    if (edges.empty()) continue;
    const std::vector<std::size_t> removed{0};
    // Reference: renumber the kept nodes and take every eigenvalue.
    std::vector<int> row(static_cast<std::size_t>(n), -1);
    for (std::size_t k = 0; k < nodes.size(); ++k) row[static_cast<std::size_t>(nodes[k])] = static_cast<int>(k);
    std::vector<core::WeightedEdge> kept;
    for (std::size_t id = 1; id < edges.size(); ++id) {
      const int u = row[static_cast<std::size_t>(edges[id].u)];
      const int v = row[static_cast<std::size_t>(edges[id].v)];
      if (u >= 0 && v >= 0) kept.push_back({u, v, edges[id].weight});
    }
    const LpiCounts expected = reference_counts(static_cast<int>(nodes.size()), kept, {}, 1e-9);
    EXPECT_EQ(counter.count_induced(graph, nodes, removed, 1e-9, CountMethod::peeled), expected);
    EXPECT_EQ(counter.count_induced(graph, nodes, removed, 1e-9, CountMethod::dense), expected);
  }
}

TEST(PeeledCount, AppliesOnlyWhereExactInertiaMatchesTheToleranceCount) {
  const std::vector<core::WeightedEdge> plain{{0, 1, 0.9}, {1, 2, 1.0}};
  EXPECT_TRUE(peeling_applies(IndexGraph(3, plain), 1e-9));
  EXPECT_FALSE(peeling_applies(IndexGraph(3, plain), 0.0));
  EXPECT_FALSE(peeling_applies(IndexGraph(3, plain), -1e-9));
  EXPECT_FALSE(peeling_applies(IndexGraph(3, plain), 1e-3));
  EXPECT_FALSE(peeling_applies(IndexGraph(2, std::vector<core::WeightedEdge>{{0, 1, 1e-12}}), 1e-9));
  EXPECT_FALSE(peeling_applies(IndexGraph(2, std::vector<core::WeightedEdge>{{0, 1, 1e7}}), 1e-9));
  const std::vector<core::WeightedEdge> looped{{0, 1, 1.0}, {1, 1, 0.5}};
  const IndexGraph with_loop(2, looped);
  EXPECT_FALSE(peeling_applies(with_loop, 1e-9));

  // Where peeling does not apply, the automatic count is the dense one.
  InertiaCounter counter;
  EXPECT_EQ(counter.count(with_loop, {}, 1e-9), reference_counts(2, looped, {}, 1e-9));
  const std::vector<core::WeightedEdge> tiny{{0, 1, 1e-12}};
  EXPECT_EQ(counter.count(IndexGraph(2, tiny), {}, 1e-9), (LpiCounts{0, 2, 0}));
  EXPECT_THROW(counter.count(with_loop, {}, 1e-9, CountMethod::peeled), InvalidInput);
}

// Records every core block it is asked about, as a memo would key them.
class RecordingCounter : public CoreCounter {
 public:
  LpiCounts count(const CoreBlock& block, double tol) override {
    blocks.push_back({std::vector<int>(block.nodes.begin(), block.nodes.end()),
                      std::vector<counts::MatrixEntry>(block.entries.begin(), block.entries.end())});
    return dense.count(block, tol);
  }
  struct Block {
    std::vector<int> nodes;
    std::vector<counts::MatrixEntry> entries;
  };
  std::vector<Block> blocks;
  DenseCoreCounter dense;
};

TEST(PeeledCount, HandsEachCoreBlockToTheCoreCounterInCanonicalForm) {
  // Two triangles (nodes 5,3,1 and 0,2,4) and a pendant pair 6-7 hanging on node 1.
  const std::vector<core::WeightedEdge> edges{{5, 3, 1.0}, {3, 1, 0.9}, {1, 5, 1.0}, {4, 2, 1.0},
                                              {2, 0, 1.0}, {0, 4, 0.5}, {6, 7, 1.0}, {7, 1, 0.9}};
  RecordingCounter recorder;
  InertiaCounter counter(&recorder);
  const LpiCounts c = counter.count(IndexGraph(8, edges), {}, 1e-9, CountMethod::peeled);
  EXPECT_EQ(c, reference_counts(8, edges, {}, 1e-9));
  ASSERT_EQ(recorder.blocks.size(), 2u);
  EXPECT_EQ(recorder.blocks[0].nodes, (std::vector<int>{0, 2, 4}));
  EXPECT_EQ(recorder.blocks[1].nodes, (std::vector<int>{1, 3, 5}));
  const auto& e = recorder.blocks[0].entries;
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ((std::vector<int>{e[0].row, e[0].col, e[1].row, e[1].col, e[2].row, e[2].col}),
            (std::vector<int>{1, 0, 2, 0, 2, 1}));
  EXPECT_EQ(e[1].weight, 0.5);
  EXPECT_EQ(counter.last_peel().core_nodes, 6);
  EXPECT_EQ(counter.last_peel().core_blocks, 2);
}

TEST(IndexGraphInput, RejectsWhatIsNotASimpleFiniteGraph) {
  EXPECT_THROW(IndexGraph(-1, {}), InvalidInput);
  EXPECT_THROW(IndexGraph(2, std::vector<core::WeightedEdge>{{0, 2, 1.0}}), IndexOutOfRange);
  EXPECT_THROW(IndexGraph(2, std::vector<core::WeightedEdge>{{-1, 0, 1.0}}), IndexOutOfRange);
  EXPECT_THROW(IndexGraph(2, std::vector<core::WeightedEdge>{{0, 1, std::nan("")}}), InvalidInput);
  EXPECT_THROW(IndexGraph(2, std::vector<core::WeightedEdge>{{0, 1, 1.0}, {1, 0, 2.0}}), InvalidInput);
  const IndexGraph g(3, std::vector<core::WeightedEdge>{{2, 0, 1.0}, {0, 1, 1.0}});
  EXPECT_EQ(g.find_edge(0, 2), std::optional<std::size_t>(0));
  EXPECT_EQ(g.find_edge(2, 0), std::optional<std::size_t>(0));
  EXPECT_EQ(g.find_edge(1, 2), std::nullopt);
  EXPECT_EQ(g.find_edge(0, 7), std::nullopt);
  InertiaCounter counter;
  const std::size_t bad_edge[] = {5};
  EXPECT_THROW(counter.count(g, bad_edge, 1e-9), IndexOutOfRange);
  const int repeated[] = {0, 0};
  EXPECT_THROW(counter.count_induced(g, repeated, {}, 1e-9), InvalidInput);
  const int outside[] = {3};
  EXPECT_THROW(counter.count_induced(g, outside, {}, 1e-9), IndexOutOfRange);
}

vif::BondRecord record(int u, int v) {
  vif::BondRecord r;
  r.u_node = u;
  r.v_node = v;
  return r;
}

TEST(DetectSoftBonds, ReportsRecordsWhoseEdgeLeavesTheCountsUnchanged) {
  // Path 0-1-2-3: cutting the middle leaves two pairs (soft); cutting an end
  // leaves a node and a 3-path (not soft).
  core::WeightedGraph path{4, {{0, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}}};
  const LpiCounts baseline{2, 0, 2};
  const std::vector<vif::BondRecord> bonds{record(0, 1), record(2, 1), record(0, 3), record(1, 2)};
  for (CountMethod method : {CountMethod::automatic, CountMethod::dense, CountMethod::peeled}) {
    // The second and fourth name the same edge and are both reported; 0-3 has no edge.
    EXPECT_EQ(ms::detect_soft_bonds(path, bonds, baseline, 1e-9, method), (std::vector<std::size_t>{1, 3}));
  }
  EXPECT_TRUE(ms::detect_soft_bonds(path, {}, baseline, 1e-9).empty());
  // Nothing is soft against a baseline that differs from every test.
  EXPECT_TRUE(ms::detect_soft_bonds(path, bonds, LpiCounts{4, 0, 0}, 1e-9).empty());
}

TEST(DetectSoftBonds, RejectsRecordsOutsideTheGraphAndNanTolerance) {
  core::WeightedGraph g{2, {{0, 1, 1.0}}};
  const std::vector<vif::BondRecord> outside{record(0, 2)};
  EXPECT_THROW(ms::detect_soft_bonds(g, outside, {1, 0, 1}, 1e-9), IndexOutOfRange);
  const std::vector<vif::BondRecord> ok{record(0, 1)};
  EXPECT_THROW(ms::detect_soft_bonds(g, ok, {1, 0, 1}, std::nan("")), InvalidInput);
  core::WeightedGraph looped{2, {{0, 1, 1.0}, {0, 0, 1.0}}};
  EXPECT_THROW(ms::detect_soft_bonds(looped, ok, {1, 0, 1}, 1e-9, CountMethod::peeled), InvalidInput);
}

}  // namespace
}  // namespace tessarin::counts
