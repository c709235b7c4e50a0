#include "prediction/schematic.h"

#include <map>

namespace tessarin::prediction {

std::vector<Peak> schematic_peaks(int mol_mass, const std::string& molecular_label,
                                  std::span<const ms::FragmentEntry> fragments,
                                  const std::optional<std::vector<ms::GenerationPeak>>& recursive_peaks) {
  std::map<int, Peak> by_mz;
  by_mz.emplace(mol_mass, Peak{mol_mass, kMolecularIonIntensity, molecular_label, {}});
  for (const ms::FragmentEntry& entry : fragments) {
    if (!entry.split || !entry.fragments) continue;
    for (const ms::FragmentTuple& t : *entry.fragments) {
      by_mz.try_emplace(t.mz, Peak{t.mz, kFragmentIntensity, t.formula, {}});
    }
  }
  if (recursive_peaks) {
    for (const ms::GenerationPeak& p : *recursive_peaks) {
      by_mz.try_emplace(p.mz, Peak{p.mz, kFragmentIntensity, p.formula, {}});
    }
  }
  std::vector<Peak> out;
  out.reserve(by_mz.size());
  for (auto& [mz, peak] : by_mz) out.push_back(std::move(peak));
  return out;
}

}  // namespace tessarin::prediction
