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

spectra::Spectrum schematic_spectrum(const analysis::Result& a, const std::string& smiles, const std::string& name) {
  spectra::Spectrum s;
  for (const Peak& p : schematic_peaks(a.mol_mass, a.formula, a.fragments, a.recursive_peaks)) {
    s.mz.push_back(p.mz);
    s.intensities.push_back(p.intensity);
    s.annotations.push_back({p.formula});
  }
  if (!name.empty()) s.metadata.set(spectra::keys::name, name);
  s.metadata.set(spectra::keys::smiles, smiles);
  s.metadata.set(spectra::keys::formula, a.formula);
  s.metadata.set(spectra::keys::mol_mass, std::to_string(a.mol_mass));
  return s;
}

}  // namespace tessarin::prediction
