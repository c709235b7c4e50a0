// Measures of a prediction against a measured spectrum, worked out by hand.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "spectra/evaluation.h"

namespace tessarin::spectra {
namespace {

TEST(PeakMeasures, RecallPrecisionAndBasePeakByIntegerMz) {
  // Measured, by integer m/z: 14: 999 (below 15), 15: 100 (from 15.4),
  // 27: 300, 29: 200 + 250 (28.6 and 29.2), 41: 500, 43: 999, 58: 40, 100: 30.
  // Five most intense at m/z >= 15: 43, 41, 29, 27, 15. Measured base 999:
  // shown from 49.95.
  const Spectrum measured =
      Spectrum::from_peaks({14, 15.4, 27, 28.6, 29.2, 41, 43, 58, 100}, {999, 100, 300, 200, 250, 500, 999, 40, 30});
  // Predicted base 999: named from 49.95, so 29, 43 (50), 58, 100; not 41 (49), 15.
  const Spectrum predicted = Spectrum::from_peaks({15, 29, 41, 43, 58, 100}, {10, 999, 49, 50, 600, 999});
  const PeakMeasures m = peak_measures(measured, predicted, 100);
  EXPECT_EQ(m.recall, 2.0 / 5);      // 43 and 29 of 43, 41, 29, 27, 15
  EXPECT_EQ(m.base_peak_hit, true);  // 43
  EXPECT_EQ(m.precision, 2.0 / 3);   // 29 and 43 of 29, 43, 58 (100 is M+)
  EXPECT_EQ(peak_measures(measured, predicted, std::nullopt).precision, 2.0 / 4);

  // Nothing to count: no measured peak at m/z >= 15; only the molecular ion predicted.
  const PeakMeasures none =
      peak_measures(Spectrum::from_peaks({12, 14}, {5, 9}), Spectrum::from_peaks({46}, {999}), 46);
  EXPECT_FALSE(none.recall);
  EXPECT_FALSE(none.base_peak_hit);
  EXPECT_FALSE(none.precision);
}

TEST(CandidateRank, TiesCountHalf) {
  const std::vector<double> behind_one_tied_with_one{0.5, 0.9, 0.5, 0.1};
  CandidateRank r = candidate_rank(behind_one_tied_with_one, 0);
  EXPECT_EQ(r.rank, 2.5);
  EXPECT_EQ(r.top1, 0.0);
  EXPECT_EQ(r.top3, 1.0);
  EXPECT_EQ(r.reciprocal_rank, 0.4);

  const std::vector<double> tied_first{0.7, 0.7, 0.2};
  r = candidate_rank(tied_first, 1);
  EXPECT_EQ(r.rank, 1.5);
  EXPECT_EQ(r.top1, 0.5);
  EXPECT_EQ(r.top3, 1.0);

  const std::vector<double> tie_across_third{0.3, 0.3, 0.3, 0.3, 0.9};
  r = candidate_rank(tie_across_third, 2);
  EXPECT_EQ(r.rank, 3.5);
  EXPECT_EQ(r.top3, 0.5);
  EXPECT_EQ(candidate_rank(std::vector<double>{0.2}, 0).top1, 1.0);
  EXPECT_THROW(candidate_rank(tied_first, 3), IndexOutOfRange);
}

TEST(EvaluationSummary, MeansOverTheMoleculesThatHaveEachMeasure) {
  std::vector<MoleculeEvaluation> molecules(3);
  molecules[0].score = 0.5;
  molecules[0].peaks = {0.4, std::nullopt, true};
  molecules[0].rank = CandidateRank{1.5, 0.5, 1, 1 / 1.5};
  molecules[1].score = 1.0;
  molecules[1].peaks = {0.8, 0.5, false};
  const EvaluationSummary s = summarize(molecules);
  EXPECT_EQ(s.molecules, 3u);
  EXPECT_EQ(s.score.value, 0.75);
  EXPECT_EQ(s.score.count, 2u);
  EXPECT_NEAR(s.recall.value, 0.6, 1e-15);
  EXPECT_EQ(s.precision.count, 1u);
  EXPECT_EQ(s.base_peak_hit.value, 0.5);
  EXPECT_EQ(s.top1.value, 0.5);
  EXPECT_EQ(s.top1.count, 1u);
}

}  // namespace
}  // namespace tessarin::spectra
