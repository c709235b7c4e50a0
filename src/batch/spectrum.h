// One molecule's predicted EI spectrum for spectral-library files: the
// analysis (run with a deadline checked between its steps), the stick peaks
// and the record the file writers format.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch/deadline.h"
#include "ms/fragments.h"
#include "ms/recursive_fragments.h"
#include "vif/analysis.h"
#include "vif/lpi.h"
#include "vif/orbital_graph.h"

namespace tessarin::batch {

// Stick heights on the usual 0..999 library scale, in the ratio of the
// spectrum plot (molecular ion 100, fragments 60).
inline constexpr int kMolecularIonIntensity = 999;
inline constexpr int kFragmentIntensity = 599;

struct SpectrumOptions {
  bool ring_fragmentation = false;
  bool recursive = false;  // add the multi-generation peaks
  int max_generations = 2;
  double time_limit_seconds = 0;  // <= 0: no limit
};

// The SMILES did not parse (the analysis' own failure text is the message).
class UnreadableSmiles : public std::runtime_error {
 public:
  UnreadableSmiles() : std::runtime_error(vif::kUnreadableSmiles) {}
};

struct Peak {
  int mz = 0;
  int intensity = 0;
  std::string formula;
  bool operator==(const Peak&) const = default;
};

// A peak of the multi-generation fragmentation (m/z, formula, generation).
using GenerationPeak = ms::Peak;

// Everything a library record needs; no RDKit molecule or graph is kept, so
// records waiting to be written in input order stay small.
struct SpectrumRecord {
  std::size_t line = 0;  // where the molecule was read (1-based)
  std::string name;
  std::string smiles;
  std::string formula;  // of the whole molecule, hydrogens included
  int mol_mass = 0;     // nominal
  double mol_mass_avg = 0;
  vif::Lpi lpi;
  std::vector<vif::BondRecord> soft_bonds;
  std::vector<ms::FragmentEntry> fragments;
  std::optional<std::vector<GenerationPeak>> recursive_peaks;
  std::vector<Peak> peaks;  // ascending m/z
};

// The stick spectrum: the molecular ion (labelled with the molecular formula)
// and every distinct m/z of the split entries, then of the multi-generation
// peaks; the first formula met for an m/z wins and the molecular ion keeps
// its own. Sorted by m/z ascending.
std::vector<Peak> spectrum_peaks(int mol_mass, const std::string& molecular_formula,
                                 std::span<const ms::FragmentEntry> fragments,
                                 const std::optional<std::vector<GenerationPeak>>& recursive_peaks);

// The VIF analysis without a report, checking `deadline` after each step
// (parsing, layout, orbital graph and LPI, soft bonds, fragments) and before
// every expansion of the multi-generation fragmentation. Throws UnreadableSmiles, the analysis' own errors,
// TimeLimitExceeded or Cancelled.
vif::VifAnalysis analyse_with_deadline(const std::string& smiles, const SpectrumOptions& options,
                                       const Deadline& deadline);

// Analysis and peaks of one molecule, as a record.
SpectrumRecord predict_spectrum(std::size_t line, const std::string& name, const std::string& smiles, const SpectrumOptions& options,
                                const Deadline& deadline);

// Runs one small analysis on the calling thread, so that what RDKit and the
// core set up on first use (depiction settings, element tables) is in place
// before worker threads start.
void warm_up();

// The full record as one JSON object (the JSON Lines row and the Python dict).
nlohmann::ordered_json record_json(const SpectrumRecord& record);

}  // namespace tessarin::batch
