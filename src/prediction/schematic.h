// The schematic spectrum of a prediction: one stick for the molecular ion and
// one for every distinct fragment m/z, at fixed heights (intensities are not
// predicted). It is what spectral-library records and the spectrum figure show.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ms/fragments.h"
#include "ms/recursive_fragments.h"

namespace tessarin::prediction {

// Stick heights on the usual 0..999 library scale, in the ratio of the
// spectrum plot (molecular ion 100, fragments 60).
inline constexpr int kMolecularIonIntensity = 999;
inline constexpr int kFragmentIntensity = 599;

// One stick.
struct Peak {
  int mz = 0;
  int intensity = 0;
  std::string formula;
  // Models that keep every ion of an m/z (ei) list them all here, `formula`
  // being the first; empty for the schematic sticks.
  std::vector<std::string> formulas;
  bool operator==(const Peak&) const = default;
};

// The molecular ion (labelled `molecular_label`, the molecular formula in
// records) and every distinct m/z of the split entries, then of the
// multi-generation peaks; the first formula met for an m/z wins and the
// molecular ion keeps its own. Sorted by m/z ascending.
std::vector<Peak> schematic_peaks(int mol_mass, const std::string& molecular_label,
                                  std::span<const ms::FragmentEntry> fragments,
                                  const std::optional<std::vector<ms::GenerationPeak>>& recursive_peaks);

}  // namespace tessarin::prediction
