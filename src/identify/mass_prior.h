// Ranking across the molecular-mass hypotheses of a spectrum whose mass is
// not given: library hits and candidate structures of several masses.
#pragma once

#include <vector>

#include "spectra/molecular_mass.h"

namespace tessarin::identify {

// A molecular-mass hypothesis of a spectrum whose mass is not given: the
// nominal mass and its score (spectra::estimate_molecular_mass's).
struct MassPrior {
  int mass = 0;
  double score = 0;
  bool operator==(const MassPrior&) const = default;
};

// How a hit or candidate of a hypothesised mass is ranked against those of
// the other hypotheses: its similarity plus kMassPriorWeight * ln(the
// hypothesis's score). On measured spectra against a predicted library this
// beat the similarity alone: a weaker mass brings entries that outscore the
// right one more often than it holds the right one.
inline constexpr double kMassPriorWeight = 0.1;
double mass_prior_rank_score(double similarity, double hypothesis_score);

// The plausible hypotheses of an estimate, best first.
std::vector<MassPrior> plausible_masses(const spectra::MassEstimate& estimate);

}  // namespace tessarin::identify
