// Weights of the evidence that ranks structures across molecular-mass
// hypotheses (mass_prior.h): one table for hypotheses weighed with a
// library's evidence, one for the peaks alone.
#pragma once

#include <span>

#include "spectra/molecular_mass_weights.h"

namespace tessarin::identify {

std::span<const spectra::NamedWeight> mass_ranking_weights(bool with_library);

}  // namespace tessarin::identify
