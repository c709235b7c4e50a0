// Spectrum similarity: values worked out by hand, and the greedy matching
// against a plain re-implementation on random spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/errors.h"
#include "spectra/similarity.h"
#include "spectra_test_support.h"

namespace tessarin::spectra {
namespace {

using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;

Spectrum peaks(std::vector<double> mz, std::vector<double> intensity) {
  return Spectrum::from_peaks(std::move(mz), std::move(intensity));
}

TEST(SpectrumData, PeaksSortWithTheirAnnotationsAndNormalize) {
  const Spectrum s = Spectrum::from_peaks({43, 15, 29, 15}, {999, 100, 500, 40}, {{"C2H3O"}, {"CH3"}, {}, {"NH"}});
  EXPECT_EQ(s.mz, (std::vector<double>{15, 15, 29, 43}));
  EXPECT_EQ(s.intensities, (std::vector<double>{100, 40, 500, 999}));
  EXPECT_EQ(s.annotations, (std::vector<std::vector<std::string>>{{"CH3"}, {"NH"}, {}, {"C2H3O"}}));
  EXPECT_EQ(s.base_peak(), 3u);
  EXPECT_EQ(s.normalized().intensities[2], 500.0 / 999);
  EXPECT_THROW(Spectrum::from_peaks({1, 2}, {1}), InvalidInput);
  EXPECT_THROW(Spectrum::from_peaks({1}, {-1}), InvalidInput);
  EXPECT_THROW(Spectrum::from_peaks({INFINITY}, {1}), InvalidInput);
}

TEST(Similarity, CosineTakesTheLargerProductWhenTwoPeaksCompeteForOne) {
  // a: 100.0 (3), 100.4 (4); b: 100.2 (5), 150 (1). Both peaks of a lie within
  // 0.5 of b's 100.2: 4*5 beats 3*5, so only (100.4, 100.2) matches.
  // The plain cosine = 4*5 / (sqrt(3^2 + 4^2) * sqrt(5^2 + 1^2)) = 4 / sqrt(26).
  const Spectrum a = peaks({100.0, 100.4}, {3, 4});
  const Spectrum b = peaks({100.2, 150}, {5, 1});
  SimilarityOptions plain;
  plain.intensity_power = 1;
  const Similarity s = similarity(a, b, plain);
  EXPECT_NEAR(s.score, 4 / std::sqrt(26.0), 1e-15);
  EXPECT_EQ(s.matched, 1u);
  EXPECT_EQ(s.pairs, (Pairs{{1, 0}}));

  // A tolerance of 0.1 leaves no pair; equal products go to the lower index.
  SimilarityOptions narrow;
  narrow.tolerance = 0.1;
  EXPECT_EQ(similarity(a, b, narrow).matched, 0u);
  EXPECT_EQ(similarity(peaks({100}, {1}), peaks({99.8, 100.2}, {1, 1})).pairs, (Pairs{{0, 0}}));
}

TEST(Similarity, PowersWeighMzAndIntensity) {
  // Square-rooted intensities: a = (1, 2), b = (2, 1) at m/z 10 and 20:
  // (sqrt1*sqrt2 + sqrt2*sqrt1) / (sqrt(1+2) * sqrt(2+1)) = 2*sqrt2/3.
  const Spectrum a = peaks({10, 20}, {1, 2});
  const Spectrum b = peaks({10, 20}, {2, 1});
  EXPECT_NEAR(similarity(a, b, sqrt_cosine()).score, 2 * std::sqrt(2.0) / 3, 1e-15);
  EXPECT_EQ(similarity(a, b).score, similarity(a, b, sqrt_cosine()).score);  // the cosine's default
  // m/z power 1, intensity power 0: weights (10, 20) on both sides -> 1.
  SimilarityOptions mz_only;
  mz_only.mz_power = 1;
  mz_only.intensity_power = 0;
  EXPECT_NEAR(similarity(a, b, mz_only).score, 1.0, 1e-15);
  // Scaling one spectrum's intensities changes nothing.
  EXPECT_EQ(similarity(a, b).score, similarity(a.normalized(999), b).score);
}

TEST(Similarity, DotProductAndCompositeByHand) {
  // Dot product, weights m/z^3 * I^0.6; a = {50: 4, 100: 1}, b = {50: 1, 100: 4}.
  // Divided by 50^3: a ~ (u, 8), b ~ (1, 8u) with u = 4^0.6, so
  // D = (u + 64u)^2 / ((u^2 + 64) * (1 + 64u^2)).
  SimilarityOptions dot;
  dot.method = ScoreMethod::dot_product;
  const double u = std::pow(4.0, 0.6);
  const double expected = std::pow(65 * u, 2) / ((u * u + 64) * (1 + 64 * u * u));
  EXPECT_NEAR(similarity(peaks({50, 100}, {4, 1}), peaks({50, 100}, {1, 4}), dot).score, expected, 1e-14);

  // Composite with plain intensities: query a = (1, .5, .25), reference
  // b = (1, 1, .25) at m/z 10, 20, 30; all three match.
  // D = (1 + .5 + .0625)^2 / (1.3125 * 2.0625) = 625/693.
  // Ratio terms: (1*1)/(1*.5) = 2 -> 1/2; (.25*.5)/(1*.25) = 1/2 -> 1/2;
  // R = (1/2 + 1/2) / 3 = 1/3.  F = (3D + 3R) / 6 = (3*625/693 + 1) / 6.
  SimilarityOptions composite;
  composite.method = ScoreMethod::composite;
  composite.mz_power = 0;
  composite.intensity_power = 1;
  const Spectrum qa = peaks({10, 20, 30}, {100, 50, 25});
  const Spectrum rb = peaks({10, 20, 30}, {100, 100, 25});
  EXPECT_NEAR(similarity(qa, rb, composite).score, (3 * 625.0 / 693 + 1) / 6, 1e-15);
  // An extra unmatched query peak adds to N_U (4) and to the query's norm:
  // D = 1.5625^2 / (1.3125 + 1) / 2.0625, F = (4D + 3R) / 7.
  const Spectrum qa4 = peaks({10, 20, 30, 40}, {100, 50, 25, 100});
  const double d4 = 1.5625 * 1.5625 / (2.3125 * 2.0625);
  EXPECT_NEAR(similarity(qa4, rb, composite).score, (4 * d4 + 1) / 7, 1e-15);
  // Reverse search ignores that peak: back to the first value.
  composite.reverse = true;
  EXPECT_NEAR(similarity(qa4, rb, composite).score, (3 * 625.0 / 693 + 1) / 6, 1e-15);
}

TEST(Similarity, ReverseSearchCountsOnlyWhatTheReferenceShows) {
  const Spectrum query = peaks({10, 20, 99}, {1, 1, 1});
  const Spectrum reference = peaks({10, 20}, {1, 1});
  SimilarityOptions reverse;
  reverse.reverse = true;
  EXPECT_NEAR(similarity(query, reference).score, 2 / std::sqrt(6.0), 1e-15);
  EXPECT_NEAR(similarity(query, reference, reverse).score, 1.0, 1e-15);
  // The reference's own unmatched peaks still count.
  EXPECT_NEAR(similarity(reference, query, reverse).score, 2 / std::sqrt(6.0), 1e-15);
}

TEST(Similarity, RefusesBrokenSpectraAndOptions) {
  Spectrum bad = peaks({10, 20}, {1, 1});
  bad.intensities[1] = std::nan("");
  EXPECT_THROW(similarity(bad, bad), InvalidInput);
  SimilarityOptions o;
  o.tolerance = -1;
  EXPECT_THROW(similarity(peaks({1}, {1}), peaks({1}, {1}), o), InvalidInput);
  EXPECT_EQ(similarity(peaks({}, {}), peaks({1}, {1})).score, 0.0);
  EXPECT_EQ(similarity(peaks({1, 2}, {0, 0}), peaks({1}, {1})).matched, 0u);
}

// The greedy matching as its definition reads: repeatedly the largest
// product among pairs within tolerance whose peaks are both unused.
double plain_greedy_cosine(const Spectrum& a, const Spectrum& b, double tol, Pairs& pairs) {
  const double ta = a.max_intensity();
  const double tb = b.max_intensity();
  std::vector<bool> used_a(a.size());
  std::vector<bool> used_b(b.size());
  double sum = 0;
  for (;;) {
    double best = -1;
    std::size_t bi = 0;
    std::size_t bj = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      for (std::size_t j = 0; j < b.size(); ++j) {
        const double p = (a.intensities[i] / ta) * (b.intensities[j] / tb);
        if (!used_a[i] && !used_b[j] && std::fabs(a.mz[i] - b.mz[j]) <= tol && p > best) {
          best = p;
          bi = i;
          bj = j;
        }
      }
    }
    if (best < 0) break;
    used_a[bi] = used_b[bj] = true;
    pairs.emplace_back(bi, bj);
    sum += best;
  }
  std::sort(pairs.begin(), pairs.end());
  double na = 0;
  double nb = 0;
  for (double v : a.intensities) na += (v / ta) * (v / ta);
  for (double v : b.intensities) nb += (v / tb) * (v / tb);
  return sum / std::sqrt(na * nb);
}

TEST(Similarity, GreedyMatchingAgreesWithItsPlainDefinitionOnRandomSpectra) {
  std::mt19937 rng(3);
  for (int k = 0; k < 400; ++k) {
    const bool integer = k % 2 == 0;
    const Spectrum a = testing::random_spectrum(rng, 1 + rng() % 40, integer);
    Spectrum b = testing::random_spectrum(rng, 1 + rng() % 40, integer);
    if (k % 4 == 1) b = a.normalized(5);  // identical peaks
    SimilarityOptions o;
    o.intensity_power = 1;  // the plain cosine of the definition
    o.tolerance = integer ? 0.5 : std::uniform_real_distribution<double>(0.01, 3)(rng);
    Pairs expected_pairs;
    const double expected = plain_greedy_cosine(a, b, o.tolerance, expected_pairs);
    const Similarity s = similarity(a, b, o);
    EXPECT_NEAR(s.score, expected, 1e-12) << k;
    EXPECT_EQ(s.pairs, expected_pairs) << k;
    EXPECT_EQ(s.matched, expected_pairs.size());
    EXPECT_GE(s.score, 0.0);
    EXPECT_LE(s.score, 1.0);
    if (k % 4 == 1) {
      EXPECT_NEAR(s.score, 1.0, 1e-12);
    }
    for (ScoreMethod m : {ScoreMethod::dot_product, ScoreMethod::composite}) {
      SimilarityOptions om = o;
      om.method = m;
      om.reverse = k % 3 == 0;
      const double v = similarity(a, b, om).score;
      EXPECT_TRUE(v >= 0 && v <= 1) << v;
      if (k % 4 == 1) {  // against itself: 1, and 1 - 1/(2n) for the composite of n peaks
        const double n = static_cast<double>(a.size());
        EXPECT_NEAR(v, m == ScoreMethod::composite ? 1 - 1 / (2 * n) : 1.0, 1e-12);
      }
    }
  }
}

}  // namespace
}  // namespace tessarin::spectra
