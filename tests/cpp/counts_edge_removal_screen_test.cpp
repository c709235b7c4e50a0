#include "counts/edge_removal_screen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/symmetric_inverse.h"
#include "counts/inertia.h"

namespace tessarin::counts {
namespace {

using Verdict = EdgeRemovalScreen::Verdict;

counts::LpiCounts dense_without(const IndexGraph& g, std::size_t edge, double tol) {
  InertiaCounter counter;
  const std::size_t removed[] = {edge};
  return counter.count(g, removed, tol, CountMethod::dense);
}

TEST(EdgeRemovalScreen, IsolatingDeletionsOfANonSingularGraphAreNotSoft) {
  // A path of four nodes: non-singular, and its end edges isolate a node.
  std::vector<core::WeightedEdge> edges{{0, 1, 1.0}, {1, 2, 0.9}, {2, 3, 1.0}};
  IndexGraph path(4, edges);
  InertiaCounter counter;
  const counts::LpiCounts base = counter.count(path, {}, 1e-9, CountMethod::dense);
  ASSERT_EQ(base.n_zero, 0);
  EdgeRemovalScreen screen(path, base, 1e-9);
  EXPECT_EQ(screen.judge(0), Verdict::not_soft);
  EXPECT_EQ(screen.judge(2), Verdict::not_soft);
  // The middle edge splits the path into two K2: counts unchanged, soft.
  EXPECT_EQ(screen.judge(1), Verdict::soft);
  EXPECT_EQ(dense_without(path, 1, 1e-9), base);

  // Against a baseline that is not the graph's own, a kept count proves
  // nothing: only the isolation rule, which needs no baseline, still answers.
  EdgeRemovalScreen shifted(path, counts::LpiCounts{base.n_plus + 1, 0, base.n_minus}, 1e-9);
  EXPECT_EQ(shifted.judge(1), Verdict::undecided);
  EXPECT_EQ(shifted.judge(0), Verdict::not_soft);
}

TEST(EdgeRemovalScreen, StaysOutOfTheWayWhereItsRulesDoNotHold) {
  // The star K1,3 is singular (n0 = 2): nothing may be decided.
  std::vector<core::WeightedEdge> star{{0, 1, 1.0}, {0, 2, 1.0}, {0, 3, 1.0}};
  IndexGraph g(4, star);
  InertiaCounter counter;
  const counts::LpiCounts base = counter.count(g, {}, 1e-9, CountMethod::dense);
  ASSERT_GT(base.n_zero, 0);
  EdgeRemovalScreen screen(g, base, 1e-9);
  for (std::size_t e = 0; e < 3; ++e) EXPECT_EQ(screen.judge(e), Verdict::undecided);

  // A weight outside the range where counts are trusted turns the screen off.
  std::vector<core::WeightedEdge> tiny{{0, 1, 1e-12}, {1, 2, 1.0}, {2, 3, 1.0}};
  IndexGraph faint(4, tiny);
  EdgeRemovalScreen off(faint, counter.count(faint, {}, 1e-9, CountMethod::dense), 1e-9);
  EXPECT_EQ(off.judge(2), Verdict::undecided);
}

TEST(EdgeRemovalScreen, AgreesWithDenseCountsOnRandomOrbitalLikeGraphs) {
  // Cliques of 4 (weight 1) joined and decorated by 0.9 bonds, as in the
  // orbital graphs; every decided verdict must match the dense count.
  std::mt19937 rng(11);
  int decided = 0;
  for (int trial = 0; trial < 200; ++trial) {
    const int atoms = 2 + static_cast<int>(rng() % 6);
    std::vector<core::WeightedEdge> edges;
    int n = 4 * atoms;
    for (int a = 0; a < atoms; ++a)
      for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) edges.push_back({4 * a + i, 4 * a + j, 1.0});
    std::vector<int> free_slot(static_cast<std::size_t>(atoms), 0);
    for (int a = 1; a < atoms; ++a) {
      const int b = static_cast<int>(rng() % static_cast<unsigned>(a));
      if (free_slot[a] < 4 && free_slot[b] < 4) edges.push_back({4 * a + free_slot[a]++, 4 * b + free_slot[b]++, 0.9});
    }
    if (atoms > 2 && free_slot[0] < 4 && free_slot[atoms - 1] < 4 && rng() % 2)
      edges.push_back({free_slot[0]++, 4 * (atoms - 1) + free_slot[atoms - 1]++, 0.9});  // a ring
    for (int a = 0; a < atoms; ++a) {
      while (free_slot[a] < 4 && rng() % 3 != 0) edges.push_back({4 * a + free_slot[a]++, n++, 0.9});  // hydrogens
    }
    IndexGraph g(n, edges);
    InertiaCounter counter;
    const counts::LpiCounts base = counter.count(g, {}, 1e-9, CountMethod::dense);
    EdgeRemovalScreen screen(g, base, 1e-9);
    for (std::size_t e = 0; e < g.edge_count(); ++e) {
      const Verdict v = screen.judge(e);
      if (v == Verdict::undecided) continue;
      ++decided;
      EXPECT_EQ(v == Verdict::soft, dense_without(g, e, 1e-9) == base) << "trial " << trial << " edge " << e;
    }
  }
  EXPECT_GT(decided, 1000);
}

// Deleting an edge can keep the inertia and still change the counts, by
// leaving a positive eigenvalue within tol of zero: counted as a zero there.
TEST(EdgeRemovalScreen, SameInertiaIsSoftOnlyWhenTheEditedMatrixKeepsClearOfTol) {
  // The triangle 1, 1, -1 (eigenvalues 1, 1, -2) with a loop of eps on node
  // 0. Without the edge (0, 2) it is a path with that loop: eigenvalues about
  // +-sqrt(2) and eps / 2. Same inertia, and det S about -eps / 2 is plainly
  // negative for the rank-two rule.
  const double eps = 1e-4;
  std::vector<double> a{eps, 1.0, -1.0, 1.0, 0.0, 1.0, -1.0, 1.0, 0.0};
  ASSERT_TRUE(core::invert_symmetric(3, a, EdgeRemovalScreen::kMinRcond));
  double norm = 0.0;
  for (double x : a) norm += x * x;
  norm = std::sqrt(norm);
  EXPECT_EQ(EdgeRemovalScreen::rank_two(a, 3, norm, 0, 2, -1.0, 1e-12), Verdict::soft);
  // Against tol 1e-3 the edited counts have a zero where the intact ones have none.
  EXPECT_EQ(EdgeRemovalScreen::rank_two(a, 3, norm, 0, 2, -1.0, 1e-3), Verdict::undecided);
}

TEST(SymmetricInverse, InvertsAndRefusesSingularMatrices) {
  std::vector<double> a{2.0, 1.0, 1.0, 3.0};
  ASSERT_TRUE(core::invert_symmetric(2, a, 1e-12));
  EXPECT_NEAR(a[0], 0.6, 1e-15);
  EXPECT_NEAR(a[1], -0.2, 1e-15);
  EXPECT_NEAR(a[2], -0.2, 1e-15);
  EXPECT_NEAR(a[3], 0.4, 1e-15);
  std::vector<double> singular{1.0, 1.0, 1.0, 1.0};
  EXPECT_FALSE(core::invert_symmetric(2, singular, 1e-12));
  std::vector<double> nearly{1.0, 1.0, 1.0, 1.0 + 1e-13};
  EXPECT_FALSE(core::invert_symmetric(2, nearly, 1e-6));
}

}  // namespace
}  // namespace tessarin::counts
