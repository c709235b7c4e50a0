// Weights of the molecular-mass estimate's evidence (molecular_mass.h), one
// table for the peaks alone and one with a predicted library's evidence.
#pragma once

#include <span>
#include <string_view>

namespace tessarin::spectra {

struct NamedWeight {
  std::string_view name;
  double weight;
};

std::span<const NamedWeight> molecular_mass_weights(bool with_library);

}  // namespace tessarin::spectra
