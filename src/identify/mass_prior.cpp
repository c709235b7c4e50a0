#include "identify/mass_prior.h"

#include <algorithm>
#include <cmath>

namespace tessarin::identify {

double mass_prior_rank_score(double similarity, double hypothesis_score) {
  return similarity + kMassPriorWeight * std::log(std::max(hypothesis_score, 1e-300));
}

std::vector<MassPrior> plausible_masses(const spectra::MassEstimate& estimate) {
  std::vector<MassPrior> out;
  for (const int mass : estimate.plausible) {
    double score = 0;
    for (const spectra::MassHypothesis& h : estimate.hypotheses) {
      if (h.mass == mass) score = h.score;
    }
    out.push_back({mass, score});
  }
  return out;
}

}  // namespace tessarin::identify
