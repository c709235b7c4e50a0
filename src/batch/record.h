// One molecule's entry in a spectral library: what the file writers format,
// taken from the molecule's analysis. No RDKit molecule or graph is kept, so
// records waiting to be written in input order stay small.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace tessarin::batch {

// Stick heights on the usual 0..999 library scale, in the ratio of the
// spectrum plot (molecular ion 100, fragments 60).
inline constexpr int kMolecularIonIntensity = 999;
inline constexpr int kFragmentIntensity = 599;

// One stick of a predicted spectrum.
struct Peak {
  int mz = 0;
  int intensity = 0;
  std::string formula;
  bool operator==(const Peak&) const = default;
};

struct SpectrumRecord {
  std::size_t line = 0;  // where the molecule was read (1-based)
  std::string name;
  std::string smiles;
  std::string formula;  // of the whole molecule, hydrogens included
  int mol_mass = 0;     // nominal
  double mol_mass_avg = 0;
  counts::Lpi lpi;
  std::vector<vif::BondRecord> soft_bonds;
  std::vector<ms::FragmentEntry> fragments;
  std::optional<std::vector<ms::GenerationPeak>> recursive_peaks;
  std::vector<Peak> peaks;  // ascending m/z
};

// The stick spectrum: the molecular ion (labelled with the molecular formula)
// and every distinct m/z of the split entries, then of the multi-generation
// peaks; the first formula met for an m/z wins and the molecular ion keeps
// its own. Sorted by m/z ascending.
std::vector<Peak> spectrum_peaks(int mol_mass, const std::string& molecular_formula,
                                 std::span<const ms::FragmentEntry> fragments,
                                 const std::optional<std::vector<ms::GenerationPeak>>& recursive_peaks);

// The record of an analysed molecule (the analysis is consumed).
SpectrumRecord make_record(std::size_t line, std::string name, std::string smiles, analysis::Result&& result);

// The full record as one JSON object (the JSON Lines row and the Python dict).
nlohmann::ordered_json record_json(const SpectrumRecord& record);

}  // namespace tessarin::batch
