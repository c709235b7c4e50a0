#include "layout/refinement.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "core/errors.h"

namespace tessarin::layout {
namespace {

constexpr double kPi = std::numbers::pi;

double distance(Point2 a, Point2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(AngleDiff, GivesTheSmallerAngleBetweenTwoDirections) {
  EXPECT_NEAR(angle_diff(0.1, 2 * kPi - 0.1), 0.2, 1e-12);
  EXPECT_EQ(angle_diff(0.0, kPi), kPi);
  EXPECT_EQ(angle_diff(kPi, 0.0), kPi);
  EXPECT_EQ(angle_diff(1.3, 1.3), 0.0);
  EXPECT_NEAR(angle_diff(-3.0, 3.0), 2 * kPi - 6.0, 1e-12);  // across the +-pi seam
  EXPECT_NEAR(angle_diff(7 * kPi + 0.25, 0.0), kPi - 0.25, 1e-12);
  // The remainder keeps Python's rules: sign of the divisor, rounding up to it.
  EXPECT_EQ(floored_mod(-1.0, 3.0), 2.0);
  EXPECT_FALSE(std::signbit(floored_mod(-0.0, 3.0)));
  EXPECT_EQ(floored_mod(-1e-20, 2 * kPi), 2 * kPi);
}

TEST(SymmetryClasses, EthaneHasTwoClassesAndUnrankableMoleculesOnePerAtom) {
  std::unique_ptr<RDKit::RWMol> ethane(RDKit::SmilesToMol("CC"));
  RDKit::MolOps::addHs(*ethane);
  const std::vector<int> ranks = symmetry_classes(*ethane);
  ASSERT_EQ(ranks.size(), 8u);
  EXPECT_EQ(ranks[0], ranks[1]);
  for (int i = 3; i < 8; ++i) EXPECT_EQ(ranks[i], ranks[2]);
  EXPECT_NE(ranks[0], ranks[2]);

  // Parsed without sanitising: no valences yet, so ranking fails inside RDKit.
  std::unique_ptr<RDKit::RWMol> raw(RDKit::SmilesToMol("c1ccccc1O", 0, false));
  EXPECT_EQ(symmetry_classes(*raw), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(RadialEqualize, GivesEveryMemberTheMeanDistanceOnItsOwnRay) {
  // Three members at 2, 3 and 4 from their centroid (1, -2); a fourth row not in the group.
  const double b = std::sqrt(9.0 - 0.75 * 0.75);
  const Point2 c{1.0, -2.0};
  std::vector<Point2> coords{{c.x + 2.0, c.y}, {c.x + 0.75, c.y + b}, {c.x - 2.75, c.y - b}, {9.0, 9.0}};
  const std::vector<Point2> before = coords;
  const std::vector<std::vector<int>> groups{{0, 1, 2}, {3}};
  radial_equalize(coords, groups);
  for (int m = 0; m < 3; ++m) {
    EXPECT_NEAR(distance(coords[m], c), 3.0, 1e-12);
    const double ux = before[m].x - c.x, uy = before[m].y - c.y, vx = coords[m].x - c.x, vy = coords[m].y - c.y;
    EXPECT_NEAR(ux * vy - uy * vx, 0.0, 1e-12);  // same ray
    EXPECT_GT(ux * vx + uy * vy, 0.0);
  }
  EXPECT_EQ(coords[3], before[3]);
}

TEST(RadialEqualize, LeavesPairsCentroidMembersAndCollapsedGroupsAloneAndChecksIndices) {
  std::vector<Point2> pair{{0.3, 1.0}, {2.5, -0.7}};
  radial_equalize(pair, std::vector<std::vector<int>>{{0, 1}});
  EXPECT_NEAR(pair[0].x, 0.3, 1e-15);
  EXPECT_NEAR(pair[1].y, -0.7, 1e-15);

  // The middle member sits on the centroid and stays; the others take the mean distance 2/3.
  std::vector<Point2> line{{-1.0, 0.0}, {0.0, 0.0}, {1.0, 0.0}};
  radial_equalize(line, std::vector<std::vector<int>>{{0, 1, 2}});
  EXPECT_EQ(line[1], (Point2{0.0, 0.0}));
  EXPECT_NEAR(line[0].x, -2.0 / 3.0, 1e-15);
  EXPECT_NEAR(line[2].x, 2.0 / 3.0, 1e-15);

  std::vector<Point2> stacked{{4.0, 4.0}, {4.0, 4.0}};
  radial_equalize(stacked, std::vector<std::vector<int>>{{0, 1}});
  EXPECT_EQ(stacked[1], (Point2{4.0, 4.0}));

  std::vector<Point2> coords{{0.0, 0.0}, {1.0, 0.0}, {0.0, 2.0}};
  const std::vector<Point2> before = coords;
  EXPECT_THROW(radial_equalize(coords, std::vector<std::vector<int>>{{0, 1, 2}, {0, 3}}), IndexOutOfRange);
  EXPECT_EQ(coords, before);  // nothing moved before the bad index was found
}

TEST(PcaAlign, TurnsPointsOnTheDiagonalOntoTheXAxisAndCentresTheInput) {
  std::vector<Point2> coords{{1.0, 1.0}, {2.0, 2.0}, {3.0, 3.0}, {5.0, 5.0}};
  const std::vector<Point2> aligned = pca_align(coords);
  ASSERT_EQ(aligned.size(), 4u);
  double sx = 0.0;
  for (const Point2& p : aligned) {
    EXPECT_NEAR(p.y, 0.0, 1e-12);
    sx += p.x;
  }
  EXPECT_NEAR(sx, 0.0, 1e-12);
  EXPECT_NEAR(aligned[3].x - aligned[0].x, 4.0 * std::sqrt(2.0), 1e-12) << "distances kept";
  EXPECT_EQ(coords[0], (Point2{-1.75, -1.75}));  // the input is centred in place

  std::vector<Point2> one{{3.0, -4.0}};
  EXPECT_EQ(pca_align(one), (std::vector<Point2>{{0.0, 0.0}}));
  std::vector<Point2> bad{{0.0, 0.0}, {NAN, 1.0}};
  EXPECT_THROW(pca_align(bad), InvalidInput);
}

TEST(PcaAlign, RotatesWithoutReflecting) {
  // A scalene triangle keeps its orientation (sign of the signed area) whatever its starting angle.
  for (double angle = 0.0; angle < 2 * kPi; angle += 0.3) {
    const double c = std::cos(angle), s = std::sin(angle);
    const Point2 raw[] = {{0.0, 0.0}, {4.0, 0.0}, {1.0, 1.5}};
    std::vector<Point2> coords;
    for (const Point2& p : raw) coords.push_back({c * p.x - s * p.y + 3.0, s * p.x + c * p.y - 1.0});
    const std::vector<Point2> r = pca_align(coords);
    const double area = (r[1].x - r[0].x) * (r[2].y - r[0].y) - (r[1].y - r[0].y) * (r[2].x - r[0].x);
    EXPECT_NEAR(area, 6.0, 1e-12) << "angle " << angle;
    double var_x = 0.0, var_y = 0.0;
    for (const Point2& p : r) {
      var_x += p.x * p.x;
      var_y += p.y * p.y;
    }
    EXPECT_GT(var_x, var_y);
  }
}

TEST(EnforceMirror, SnapsRowsNearTheLineAndPairsSameClassRowsAcrossIt) {
  std::vector<Point2> snapped{{1.0, 0.02}, {1.0, 0.5}};
  enforce_mirror(snapped, std::vector<int>{0, 1}, 1);
  EXPECT_EQ(snapped[0], (Point2{1.0, 0.0}));
  EXPECT_EQ(snapped[1], (Point2{1.0, 0.5}));

  std::vector<Point2> paired{{1.0, 0.5}, {1.2, -0.3}};
  enforce_mirror(paired, std::vector<int>{4, 4}, 1);
  EXPECT_NEAR(paired[0].x, 1.1, 1e-15);
  EXPECT_NEAR(paired[0].y, 0.4, 1e-15);
  EXPECT_NEAR(paired[1].x, 1.1, 1e-15);
  EXPECT_NEAR(paired[1].y, -0.4, 1e-15);

  // Across the y axis (x -> -x) the roles of the coordinates swap.
  std::vector<Point2> across{{0.5, 1.0}, {-0.3, 1.2}};
  enforce_mirror(across, std::vector<int>{2, 2}, 0);
  EXPECT_NEAR(across[0].x, 0.4, 1e-15);
  EXPECT_NEAR(across[1].x, -0.4, 1e-15);
  EXPECT_NEAR(across[0].y, 1.1, 1e-15);
}

TEST(EnforceMirror, ChoosesTheNearestMirrorImageAndTheLowerIndexOnATie) {
  // Row 0's image is (1, -1): rows 1 and 2 are equally far from it, row 3 farther.
  std::vector<Point2> coords{{1.0, 1.0}, {1.5, -1.0}, {0.5, -1.0}, {1.0, -3.0}};
  enforce_mirror(coords, std::vector<int>{0, 0, 0, 0}, 1);
  EXPECT_NEAR(coords[0].x, 1.25, 1e-15);
  EXPECT_NEAR(coords[1].x, 1.25, 1e-15);
  EXPECT_EQ(coords[2], (Point2{0.5, -1.0}));  // no partner left on the other side
  EXPECT_EQ(coords[3], (Point2{1.0, -3.0}));
  EXPECT_THROW(enforce_mirror(coords, std::vector<int>{0, 1, 2}, 1), InvalidInput);
  EXPECT_THROW(enforce_mirror(coords, std::vector<int>{0, 1, 2, 3}, 2), InvalidInput);
}

}  // namespace
}  // namespace tessarin::layout
