// Ranking across the molecular-mass hypotheses of a spectrum whose mass is
// not given: library hits and candidate structures of several masses.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "spectra/molecular_mass.h"
#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

// A molecular-mass hypothesis of a spectrum whose mass is not given: the
// nominal mass and its score (spectra::estimate_molecular_mass's).
struct MassPrior {
  int mass = 0;
  double score = 0;
  bool operator==(const MassPrior&) const = default;
};

// The plausible hypotheses of an estimate, best first.
std::vector<MassPrior> plausible_masses(const spectra::MassEstimate& estimate);

// What a measured spectrum shows at its upper end, read once for all the
// structures it is compared with: the window of kUpperEndWidth m/z up to its
// highest peak of at least 0.5 % of the base peak (from its lowest m/z at
// the least), and its square-rooted intensities there by nominal m/z.
inline constexpr int kUpperEndWidth = 50;
struct UpperEnd {
  int low = 0, high = -1;     // the window's nominal m/z (empty when high < low)
  std::vector<double> shown;  // square-rooted intensity (of the base peak) at low + k
};
// Throws InvalidInput when the spectrum fails Spectrum::check.
UpperEnd upper_end(const spectra::Spectrum& measured);

// The named evidence that ranks a hit or candidate structure of one mass
// hypothesis against those of the others, in this order:
//   "log hypothesis score"    ln of its mass's hypothesis score;
//   "best hypothesis"         1 when its mass is the first hypothesis;
//   "similarity"              the cosine of square-rooted intensities over the
//                             measured m/z range, whatever the search's score;
//   "upper end unexplained"   the share of the measured upper end's
//                             (square-rooted) intensity at m/z where the
//                             structure's spectrum has no peak;
//   "upper end not measured"  the share of the structure's own (square-
//                             rooted) intensity in that window at m/z where
//                             nothing was measured.
// A structure of the right mass explains the last peaks of the spectrum and
// predicts few where there are none; one of a mass that a fragment suggests
// tends to fail on either.
inline constexpr std::size_t kHypothesisEvidence = 5;
using HypothesisEvidence = std::array<double, kHypothesisEvidence>;
std::span<const std::string_view> hypothesis_evidence_names();

// The similarity the evidence reads: the cosine of square-rooted
// intensities over the measured m/z range.
spectra::SimilarityOptions ranking_similarity();

// The evidence of `structure` (its spectrum) for `measured`, whose upper end
// is `upper`. `score` is the structure's score under `scored_with`, taken as
// the similarity when that is ranking_similarity() (else it is computed).
// Throws InvalidInput when a spectrum fails Spectrum::check.
HypothesisEvidence hypothesis_evidence(const spectra::Spectrum& measured, const UpperEnd& upper,
                                       const spectra::Spectrum& structure,
                                       const spectra::SimilarityOptions& scored_with, double score,
                                       const MassPrior& mass, bool best);
// The same evidence under another hypothesis of the structure's mass.
HypothesisEvidence with_hypothesis(HypothesisEvidence evidence, const MassPrior& mass, bool best);

// The rank score: a weighted sum of the evidence, the weights fitted on
// measured spectra against a predicted library of structures the models
// were not fitted on (scripts/fit_molecular_mass.py --ranking,
// mass_ranking_weights.cpp); one table for hypotheses weighed with a
// library's evidence (a library search) and one for the peaks alone
// (candidate structures).
double hypothesis_rank_score(const HypothesisEvidence& evidence, bool library_evidence);

}  // namespace tessarin::identify
