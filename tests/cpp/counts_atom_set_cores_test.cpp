#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/errors.h"
#include "core/shifted_inertia.h"
#include "core/symmetric_eigen.h"
#include "counts/atom_set_cores.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "random_orbital_graphs.h"

namespace tessarin::counts {
namespace {

using counts::LpiCounts;
using test_graphs::random_cluster_graph;
using test_graphs::reference_counts;
using Verdict = EdgeRemovalScreen::Verdict;

std::vector<double> dense_lower(int n, const std::vector<core::WeightedEdge>& edges) {
  std::vector<double> a(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
  for (const core::WeightedEdge& e : edges) {
    const int row = std::max(e.u, e.v);
    const int col = std::min(e.u, e.v);
    a[static_cast<std::size_t>(col) * static_cast<std::size_t>(n) + static_cast<std::size_t>(row)] += e.weight;
  }
  return a;
}

TEST(ShiftedInertia, CountsEigenvaluesOnEitherSideOfTheShift) {
  core::ShiftedInertia inertia;
  // [[0, 1], [1, 0]] has eigenvalues -1 and 1 (a 2x2 pivot block).
  const std::vector<double> swap{0.0, 1.0, 1.0, 0.0};
  EXPECT_EQ(inertia.split(2, swap, 0.0).above, 1);
  EXPECT_EQ(inertia.split(2, swap, 0.0).below, 1);
  EXPECT_EQ(inertia.split(2, swap, 2.0).below, 2);
  EXPECT_EQ(inertia.split(2, swap, -1.5).above, 2);
  // An eigenvalue equal to the shift counts on neither side.
  const core::ShiftSplit zero = inertia.split(2, std::vector<double>(4, 0.0), 0.0);
  EXPECT_EQ(zero.above + zero.below, 0);
  EXPECT_THROW(inertia.split(2, {0.0, NAN, NAN, 0.0}, 0.0), InvalidInput);
  EXPECT_THROW(inertia.split(2, swap, INFINITY), InvalidInput);

  // Orbital-like graphs, singular ones included, against their eigenvalues.
  std::mt19937 rng(7);
  core::SymmetricEigenSolver solver;
  for (int trial = 0; trial < 200; ++trial) {
    int n = 0;
    const std::vector<core::WeightedEdge> edges = random_cluster_graph(rng, n, trial % 2 == 0);
    const std::vector<double> a = dense_lower(n, edges);
    std::vector<double> work = a;
    std::vector<double> values;
    solver.eigenvalues(n, work, values);
    const LpiCounts expected = counts::count_signs(values, 1e-9);
    ASSERT_EQ(inertia.split(n, a, 1e-9).above, expected.n_plus) << "trial " << trial;
    ASSERT_EQ(inertia.split(n, a, -1e-9).below, expected.n_minus) << "trial " << trial;
  }
}

// Every single-edge deletion of random orbital-like graphs, counted through
// the recorded core blocks (memo, inverse, extension) and judged by the
// rank-two rule, against the eigenvalues of the edited matrix.
TEST(AtomSetCores, DeletionCountsAndVerdictsMatchTheEigenvalues) {
  std::mt19937 rng(20261208);
  AtomSetCores cores;
  InertiaCounter counter(&cores);
  long long decided = 0;
  for (int trial = 0; trial < 300; ++trial) {
    int n = 0;
    const std::vector<core::WeightedEdge> edges = random_cluster_graph(rng, n, trial % 3 == 0);
    const IndexGraph graph(n, edges);
    cores.begin_intact(static_cast<std::size_t>(n));
    const LpiCounts intact = counter.count(graph, {}, 1e-9, CountMethod::peeled);
    cores.end_intact();
    ASSERT_EQ(intact, reference_counts(n, edges, {}, 1e-9)) << "trial " << trial;
    for (std::size_t id = 0; id < edges.size(); ++id) {
      const Verdict verdict = cores.judge_deletion(edges[id].u, edges[id].v, edges[id].weight, 1e-9);
      const std::vector<std::size_t> removed{id};
      const LpiCounts edited = counter.count(graph, removed, 1e-9, CountMethod::peeled);
      ASSERT_EQ(edited, reference_counts(n, edges, removed, 1e-9)) << "trial " << trial << " edge " << id;
      if (verdict == Verdict::undecided) continue;
      ++decided;
      ASSERT_EQ(verdict == Verdict::soft, edited == intact) << "trial " << trial << " edge " << id;
    }
  }
  EXPECT_GT(decided, 100);
  EXPECT_GT(cores.extended(), 100);
}

TEST(AtomSetCores, JudgesNothingOutsideItsRecordedBlocks) {
  AtomSetCores cores;
  InertiaCounter counter(&cores);
  // K5 of assorted weights with a pendant node on node 0: the pendant pair
  // (5, 0) peels and leaves the K4 on 1..4 as the core.
  const std::vector<core::WeightedEdge> edges{{0, 1, 1.0}, {0, 2, 0.9}, {0, 3, 0.7}, {0, 4, 1.1},
                                              {1, 2, 1.0}, {1, 3, 1.3}, {1, 4, 0.6}, {2, 3, 0.8},
                                              {2, 4, 1.2}, {3, 4, 0.5}, {0, 5, 0.9}};
  const IndexGraph graph(6, edges);
  EXPECT_EQ(cores.judge_deletion(1, 2, 1.0, 1e-9), Verdict::undecided);  // nothing recorded yet
  cores.begin_intact(6);
  counter.count(graph, {}, 1e-9, CountMethod::peeled);
  cores.end_intact();
  EXPECT_NE(cores.judge_deletion(1, 2, 1.0, 1e-9), Verdict::undecided);    // inside the core
  EXPECT_EQ(cores.judge_deletion(0, 5, 0.9, 1e-9), Verdict::undecided);    // the peeled pair
  EXPECT_EQ(cores.judge_deletion(0, 1, 1.0, 1e-9), Verdict::undecided);    // one end peeled
  EXPECT_EQ(cores.judge_deletion(1, 2, 0.0, 1e-9), Verdict::undecided);    // a zero weight
  EXPECT_EQ(cores.judge_deletion(-1, 99, 1.0, 1e-9), Verdict::undecided);  // foreign nodes
}

}  // namespace
}  // namespace tessarin::counts
