#include "counts/lpi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/errors.h"
#include "counts/lpi_text.h"

namespace tessarin::counts {
namespace {

TEST(Lpi, EmptyAndEdgelessGraphs) {
  Lpi empty = lpi_of_undirected_edges(0, {}, 1e-9);
  EXPECT_EQ(empty.counts, (LpiCounts{0, 0, 0}));
  EXPECT_TRUE(empty.eigenvalues.empty());

  Lpi single = lpi_of_undirected_edges(1, {}, 1e-9);
  EXPECT_EQ(single.counts, (LpiCounts{0, 1, 0}));
  ASSERT_EQ(single.eigenvalues.size(), 1u);
  EXPECT_EQ(single.eigenvalues[0], 0.0);

  EXPECT_EQ(lpi_of_undirected_edges(5, {}, 1e-9).counts, (LpiCounts{0, 5, 0}));
}

TEST(Lpi, OneEdgeGivesPlusAndMinusItsWeight) {
  std::vector<MatrixEntry> edge{{0, 1, 1.0}};
  Lpi k2 = lpi_of_undirected_edges(2, edge, 1e-9);
  EXPECT_EQ(k2.counts, (LpiCounts{1, 0, 1}));
  ASSERT_EQ(k2.eigenvalues.size(), 2u);
  EXPECT_DOUBLE_EQ(k2.eigenvalues[0], -1.0);
  EXPECT_DOUBLE_EQ(k2.eigenvalues[1], 1.0);

  // The same matrix given entry by entry.
  std::vector<MatrixEntry> entries{{0, 1, 1.0}, {1, 0, 1.0}};
  EXPECT_EQ(lpi_of_entries(2, entries, 1e-9).eigenvalues, k2.eigenvalues);
}

TEST(Lpi, ToleranceBoundaryCountsAsZero) {
  // Eigenvalues of the diagonal matrix are its entries.
  const double tol = 0.25;
  std::vector<MatrixEntry> diagonal{{0, 0, tol}, {1, 1, -tol}, {2, 2, 0.2500001}, {3, 3, -0.2500001}};
  EXPECT_EQ(lpi_of_entries(4, diagonal, tol).counts, (LpiCounts{1, 2, 1}));
  EXPECT_EQ(count_signs(std::vector<double>{-1.0, 0.0, 1e-9, -1e-9, 2e-9}, 1e-9), (LpiCounts{1, 3, 1}));
  // A negative tolerance makes the classes overlap: 0 is both above -0.5 and below 0.5.
  EXPECT_EQ(count_signs(std::vector<double>{0.0}, -0.5), (LpiCounts{1, 0, 1}));
}

TEST(Lpi, MethaneLikeStarHasTheExpectedSpectrum) {
  // Carbon's four sigma nodes (clique, weight 1) each bonded to one hydrogen (0.9).
  std::vector<MatrixEntry> edges;
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) edges.push_back({a, b, 1.0});
  for (int a = 0; a < 4; ++a) edges.push_back({a, 4 + a, 0.9});
  Lpi lpi = lpi_of_undirected_edges(8, edges, 1e-9);
  EXPECT_EQ(lpi.counts, (LpiCounts{4, 0, 4}));
  EXPECT_EQ(eigenvalue_line(lpi.eigenvalues),
            "      Eigenvalues: [-1.53, -1.53, -1.53, -0.249, 0.53, 0.53, 0.53, 3.249]");
}

TEST(Lpi, RejectsEntriesOutsideTheMatrixAndNonFiniteWeights) {
  std::vector<MatrixEntry> outside{{0, 3, 1.0}};
  EXPECT_THROW(lpi_of_entries(3, outside, 1e-9), IndexOutOfRange);
  std::vector<MatrixEntry> negative{{-1, 0, 1.0}};
  EXPECT_THROW(lpi_of_undirected_edges(3, negative, 1e-9), IndexOutOfRange);
  std::vector<MatrixEntry> nan_weight{{0, 1, std::numeric_limits<double>::quiet_NaN()}};
  EXPECT_THROW(lpi_of_undirected_edges(2, nan_weight, 1e-9), InvalidInput);
  std::vector<MatrixEntry> inf_weight{{0, 1, std::numeric_limits<double>::infinity()}};
  EXPECT_THROW(lpi_of_entries(2, inf_weight, 1e-9), InvalidInput);
}

TEST(LpiText, ReportLineAndTitlePart) {
  LpiCounts c{5, 0, 6};
  EXPECT_EQ(lpi_report_line(c), "      LPI = {n+=5, n0=0, n-=6}  (11 orbitals total)");
  EXPECT_EQ(lpi_title_part(c), "   |   LPI = {n+=5, n0=0, n-=6}   |   ");
  EXPECT_EQ(eigenvalue_line(std::vector<double>{}), "      Eigenvalues: []");
  EXPECT_EQ(eigenvalue_line(std::vector<double>{-1.9, -0.9, -1e-17, 1.0}),
            "      Eigenvalues: [-1.9, -0.9, -0.0, 1.0]");
}

}  // namespace
}  // namespace tessarin::counts
