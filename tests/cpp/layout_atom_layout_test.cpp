#include "layout/atom_layout.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <latch>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "layout/refinement.h"

namespace tessarin::layout {
namespace {

double distance(Point2 a, Point2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

std::unique_ptr<RDKit::RWMol> prepared(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles));
  RDKit::MolOps::addHs(*mol);
  return mol;
}

// CoordGen loads its ring-system templates on the first bridged ring system
// it meets. Threads whose first depictions are bridged molecules, started
// together, must not load them together. Each round runs in a child process
// of its own, where these are the first depictions; one round alone catches
// an unguarded load only now and then.
bool depict_bridged_molecules_at_once() {
  const char* const smiles[] = {"C1C2CC3CC1CC(C2)C3", "C12C3C4C1C5C2C3C45", "OC1C2CC3CC1CC(C2)C3",
                                "NC12CC3CC(CC(C3)C1)C2"};
  constexpr std::size_t kThreads = 14;
  std::vector<std::unique_ptr<RDKit::ROMol>> mols;
  for (std::size_t i = 0; i < kThreads; ++i) mols.emplace_back(RDKit::SmilesToMol(smiles[i % std::size(smiles)]));
  std::vector<std::vector<Point2>> coords(kThreads);
  std::latch start(static_cast<std::ptrdiff_t>(kThreads));
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      coords[i] = depict_2d(*mols[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < kThreads; ++i) {
    if (coords[i].size() != mols[i]->getNumAtoms()) return false;
    for (const Point2& p : coords[i]) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    }
  }
  return true;
}

TEST(AtomLayout, ThreadsFirstDepictingBridgedRingsAtOnceAllGetTheirLayouts) {
  for (int round = 0; round < 12; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(depict_bridged_molecules_at_once() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "round " << round << ": " << (WIFSIGNALED(status) ? "killed by a signal" : "wrong layouts");
  }
}

TEST(AtomLayout, BondLengthDeviationShrinksByOneMinusTwiceTheSpringConstantPerIteration) {
  const std::vector<BondPair> bond{{0, 1}};
  for (int iterations : {1, 2, 5}) {
    LayoutParams p;
    p.n_iter = iterations;
    const std::vector<Point2> out = refine_layout({{0.0, 0.0}, {1.0, 0.0}}, bond, std::vector<int>{0, 0}, p);
    EXPECT_NEAR(distance(out[0], out[1]), 1.5 - 0.5 * std::pow(0.88, iterations), 1e-12);
  }
}

TEST(AtomLayout, WithoutIterationsItIsTheDepictionAlignedAndMirrored) {
  auto mol = prepared("CC(=O)Nc1ccc(O)cc1");
  LayoutParams p;
  p.n_iter = 0;
  const AtomLayout result = compute_atom_layout(*mol, p);
  std::vector<Point2> expected = depict_2d(*mol);
  expected = pca_align(expected);
  enforce_mirror(expected, result.ranks, 1);
  enforce_mirror(expected, result.ranks, 0);
  EXPECT_EQ(result.coords, expected);
}

TEST(AtomLayout, CoincidentAtomsArePushedApartTheSameWayEveryTime) {
  const std::vector<Point2> start{{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}, {2.0, 1.0}};
  // Left on one point they would never feel each other (no direction to push along).
  LayoutParams p;
  p.n_iter = 60;
  const std::vector<int> ranks{0, 1, 2, 3};
  const std::vector<Point2> out = refine_layout(start, {}, ranks, p);
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 4; ++j) EXPECT_GT(distance(out[i], out[j]), 0.5) << i << "," << j;
  }
  EXPECT_EQ(refine_layout(start, {}, ranks, p), out);
}

TEST(AtomLayout, RepulsionActsOnlyOnNonBondedPairsCloserThanTheCutOff) {
  // Two unbonded atoms 1.0 apart: with min_nb = 1.5 * 1.2 = 1.8 each step adds 2 * k_rep * (1.8 - L).
  LayoutParams p;
  p.n_iter = 1;
  const std::vector<int> ranks{0, 1};
  std::vector<Point2> out = refine_layout({{0.0, 0.0}, {1.0, 0.0}}, {}, ranks, p);
  EXPECT_NEAR(distance(out[0], out[1]), 1.0 + 2 * 0.05 * 0.8, 1e-12);
  // 2.0 apart is beyond 1.8: nothing happens ...
  out = refine_layout({{0.0, 0.0}, {2.0, 0.0}}, {}, ranks, p);
  EXPECT_NEAR(distance(out[0], out[1]), 2.0, 1e-12);
  // ... unless a longer bond length moves the cut-off out to 2.4.
  p.target_bond_len = 2.0;
  out = refine_layout({{0.0, 0.0}, {2.0, 0.0}}, {}, ranks, p);
  EXPECT_NEAR(distance(out[0], out[1]), 2.0 + 2 * 0.05 * 0.4, 1e-12);
  // With repulsion_factor 1.0 only pairs closer than one bond length repel.
  p.target_bond_len = 1.5;
  p.repulsion_factor = 1.0;
  out = refine_layout({{0.0, 0.0}, {1.6, 0.0}}, {}, ranks, p);
  EXPECT_NEAR(distance(out[0], out[1]), 1.6, 1e-12);
}

// Random layouts, sprawling and crowded, with bond chains and an outlier far
// out (so the cell grid has to widen its cells).
TEST(AtomLayout, NeighbourListAndExhaustiveSearchGiveIdenticalResults) {
  std::mt19937_64 rng(7);
  struct Case {
    int n;
    double box;
    double repulsion_factor;
  };
  for (const Case& c : {Case{30, 2.0, 1.2}, Case{150, 12.0, 1.2}, Case{120, 6.0, 2.5}, Case{80, 40.0, 1.2}}) {
    std::uniform_real_distribution<double> coord(-c.box, c.box);
    std::vector<Point2> start(c.n);
    for (Point2& p : start) p = {coord(rng), coord(rng)};
    start.push_back({500.0, -300.0});
    const int n = c.n + 1;
    std::vector<BondPair> bonds;
    for (int i = 1; i < n; ++i) {
      if (i % 4 != 0) bonds.push_back({i - 1, i});
    }
    std::vector<int> ranks(n);
    for (int i = 0; i < n; ++i) ranks[i] = i % 5;
    LayoutParams p;
    p.n_iter = 300;
    p.repulsion_factor = c.repulsion_factor;
    const auto listed = refine_layout(start, bonds, ranks, p, PairSearch::neighbour_list);
    const auto exhaustive = refine_layout(start, bonds, ranks, p, PairSearch::all_pairs);
    EXPECT_EQ(listed, exhaustive) << "n " << n << " box " << c.box;
  }
}

TEST(AtomLayout, RefusesBadInputAndReportsADivergingRelaxation) {
  auto mol = prepared("CCO");
  LayoutParams p;
  p.target_bond_len = 0.0;
  EXPECT_THROW(compute_atom_layout(*mol, p), InvalidInput);
  EXPECT_EQ(mol->getNumConformers(), 0u) << "checked before the depiction";
  // A spring constant above 1 overshoots more every step, until the numbers overflow.
  p = LayoutParams{};
  p.k_attr = 3.0;
  EXPECT_THROW(compute_atom_layout(*mol, p), InvalidInput);

  EXPECT_THROW(refine_layout({{0, 0}, {1, 0}}, std::vector<BondPair>{{0, 2}}, std::vector<int>{0, 0}, {}),
               IndexOutOfRange);
  EXPECT_THROW(refine_layout({{0, 0}, {1, 0}}, {}, std::vector<int>{0}, {}), InvalidInput);
  EXPECT_THROW(refine_layout({{0, 0}, {NAN, 0}}, {}, std::vector<int>{0, 1}, {}), InvalidInput);
}

}  // namespace
}  // namespace tessarin::layout
