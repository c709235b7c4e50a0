// Written by scripts/fit_molecular_mass.py --ranking; do not edit by hand. Weights of the evidence that ranks
// structures across molecular-mass hypotheses (mass_prior.h), fitted on measured EI spectra against a library of
// their structures predicted by models not fitted on them: kLibrary for hypotheses weighed with the library's
// evidence, kPeaks for the peaks alone.
#include "identify/mass_ranking_weights.h"

#include <array>

namespace tessarin::identify {
namespace {

// clang-format off
constexpr std::array<spectra::NamedWeight, 5> kLibrary{{
    {"log hypothesis score", 0.580873},
    {"best hypothesis", 0.184624},
    {"similarity", 17.598},
    {"upper end unexplained", -2.54319},
    {"upper end not measured", -1.97673},
}};

constexpr std::array<spectra::NamedWeight, 5> kPeaks{{
    {"log hypothesis score", 0.481844},
    {"best hypothesis", 0.178932},
    {"similarity", 18.9138},
    {"upper end unexplained", -2.33904},
    {"upper end not measured", -2.00029},
}};
// clang-format on

}  // namespace

std::span<const spectra::NamedWeight> mass_ranking_weights(bool with_library) {
  if (with_library) return kLibrary;
  return kPeaks;
}

}  // namespace tessarin::identify
