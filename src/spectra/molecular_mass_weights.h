// Weights of the molecular-mass estimate's evidence (molecular_mass.h), one
// table for the peaks alone and one with a predicted library's evidence.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace tessarin::spectra {

struct NamedWeight {
  std::string_view name;
  double weight;
};

std::span<const NamedWeight> molecular_mass_weights(bool with_library);

// A weight table's weights in the order of `names` (0 for a name the table
// lacks). Throws std::logic_error for a name of the table that `names` lacks:
// a fault of the table.
std::vector<double> weights_in_order(std::span<const NamedWeight> table, std::span<const std::string_view> names);

}  // namespace tessarin::spectra
