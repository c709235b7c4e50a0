#include "layout/node_placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "core/errors.h"
#include "layout/refinement.h"

namespace tessarin::layout {
namespace {

constexpr double kPi = std::numbers::pi;
using Angles = std::vector<double>;

TEST(YerlestirDugumler, KeepsTargetsAndBisectsTheWidestGaps) {
  EXPECT_EQ(orbital_node_directions(1, Angles{2.0}), (Angles{0.0}));
  EXPECT_EQ(orbital_node_directions(4, Angles{}), (Angles{0.0, kPi / 2, kPi, 3 * kPi / 2}));
  EXPECT_EQ(orbital_node_directions(4, Angles{0.0}), (Angles{0.0, kPi, kPi / 2, 3 * kPi / 2}));
  EXPECT_EQ(orbital_node_directions(2, Angles{1.0, 2.0, 3.0}), (Angles{1.0, 2.0}));
  const Angles three = orbital_node_directions(3, Angles{-0.5, 0.5});
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0], -0.5);  // kept as given, not reduced
  EXPECT_EQ(three[1], 0.5);
  EXPECT_NEAR(three[2], kPi, 1e-15);
  EXPECT_EQ(orbital_node_directions(3, Angles{1.0, 1.0}), (Angles{1.0, 1.0, 1.0}));
  EXPECT_EQ(orbital_node_directions(1, Angles{NAN}), (Angles{0.0}));
  EXPECT_EQ(orbital_node_directions(2, Angles{1.0, 2.0, INFINITY}), (Angles{1.0, 2.0}));  // never used
  EXPECT_THROW(orbital_node_directions(0, Angles{}), InvalidInput);
  EXPECT_THROW(orbital_node_directions(3, Angles{NAN}), InvalidInput);
}

// The chooser as first described: rescan every gap for every added direction.
Angles rescan_every_time(int n_nodes, const Angles& targets) {
  const double two_pi = 2 * kPi;
  if (n_nodes == 1) return {0.0};
  Angles angles(targets.begin(), targets.begin() + std::min<std::size_t>(n_nodes, targets.size()));
  if (angles.empty()) {
    for (int i = 0; i < n_nodes; ++i) angles.push_back(i * (two_pi / n_nodes));
    return angles;
  }
  while (static_cast<int>(angles.size()) < n_nodes) {
    Angles sorted;
    for (double a : angles) sorted.push_back(floored_mod(a, two_pi));
    std::sort(sorted.begin(), sorted.end());
    if (sorted.size() == 1) {
      angles.push_back(floored_mod(sorted[0] + kPi, two_pi));
      continue;
    }
    double widest = -1.0, middle = 0.0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      const double a1 = sorted[i], a2 = sorted[(i + 1) % sorted.size()];
      const double gap = floored_mod(a2 - a1, two_pi);
      if (gap > widest) {
        widest = gap;
        middle = floored_mod(a1 + gap / 2.0, two_pi);
      }
    }
    angles.push_back(middle);
  }
  return angles;
}

TEST(YerlestirDugumler, AgreesWithRescanningAllGapsForEveryAddedNode) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> angle(-7.0, 7.0);
  std::uniform_int_distribution<int> pick(0, 5);
  const Angles special{0.0, kPi, -kPi, 2 * kPi, -1e-20, 1e-300, 2 * kPi - 1e-15};
  for (int trial = 0; trial < 3000; ++trial) {
    const int n_nodes = 1 + trial % 40;
    Angles targets;
    const int count = trial % 7;
    for (int k = 0; k < count; ++k) {
      const int kind = pick(rng);
      if (kind == 0 && !targets.empty()) {
        targets.push_back(targets.back());  // duplicates make equal gaps
      } else if (kind == 1) {
        targets.push_back(special[static_cast<std::size_t>(trial + k) % special.size()]);
      } else {
        targets.push_back(angle(rng));
      }
    }
    ASSERT_EQ(orbital_node_directions(n_nodes, targets), rescan_every_time(n_nodes, targets))
        << "trial " << trial << " n_nodes " << n_nodes;
  }
}

TEST(TargetAngles, FanMultipleBondsSkipCoincidentNeighboursAndStopAtTheNodeCount) {
  const Point2 c{0.0, 0.0};
  // Coincident (asks for nothing), straight down, order 0 (counts as 1), a double bond to the left.
  const std::vector<NeighbourBond> nbrs{{{0.0, 0.0}, 1}, {{0.0, -1.0}, 1}, {{1.0, 0.0}, 0}, {{-1.0, 0.0}, 2}};
  const Angles t = target_angles(c, nbrs, 4);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_NEAR(t[0], -kPi / 2, 1e-15);
  EXPECT_EQ(t[1], 0.0);
  EXPECT_NEAR(t[2], kPi - 0.175, 1e-15);
  EXPECT_NEAR(t[3], kPi + 0.175, 1e-15);                       // not reduced into (-pi, pi]
  EXPECT_EQ(target_angles(c, nbrs, 2), (Angles{t[0], t[1]}));  // earlier neighbours win

  const std::vector<NeighbourBond> nitrile{{{2.0, 0.0}, 3}};
  const Angles n = target_angles(c, nitrile, 4);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_NEAR(n[0], -0.35, 1e-15);
  EXPECT_EQ(n[1], 0.0);
  EXPECT_NEAR(n[2], 0.35, 1e-15);
  EXPECT_EQ(target_angles(c, nitrile, 1).size(), 1u);  // a hydrogen's node: one direction per bond
  EXPECT_THROW(target_angles(c, nbrs, 0), InvalidInput);
}

TEST(PlaceAtomNodes, PutsNodesOnTheCircleAlongTheChosenDirections) {
  const double radius = node_radius(1.5, 0.23);
  EXPECT_DOUBLE_EQ(radius, 0.345);
  const Point2 h{2.0, -1.0};
  const std::vector<NeighbourBond> to_carbon{{{0.5, -1.0}, 1}};
  const auto hydrogen = place_atom_nodes(h, to_carbon, std::vector<int>{17}, radius);
  ASSERT_EQ(hydrogen.size(), 1u);
  EXPECT_EQ(hydrogen[0].node, 17);
  EXPECT_EQ(hydrogen[0].angle, 0.0);
  EXPECT_EQ(hydrogen[0].position, (Point2{2.0 + radius, -1.0}));

  const Point2 c{0.0, 0.0};
  const std::vector<NeighbourBond> bonds{{{1.5, 0.0}, 2}, {{-1.0, 1.0}, 1}};
  const std::vector<int> nodes{4, 5, 6, 7};
  const auto carbon = place_atom_nodes(c, bonds, nodes, radius);
  const Angles expected = orbital_node_directions(4, target_angles(c, bonds, 4));
  ASSERT_EQ(carbon.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(carbon[i].node, nodes[i]);
    EXPECT_EQ(carbon[i].angle, expected[i]);
    EXPECT_NEAR(std::hypot(carbon[i].position.x - c.x, carbon[i].position.y - c.y), radius, 1e-15);
    EXPECT_NEAR(std::atan2(carbon[i].position.y, carbon[i].position.x), std::remainder(expected[i], 2 * kPi), 1e-12);
  }
}

}  // namespace
}  // namespace tessarin::layout
