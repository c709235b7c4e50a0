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
#include "prediction/predict.h"
#include "prediction/schematic.h"

namespace tessarin::batch {

struct SpectrumRecord {
  std::size_t line = 0;  // where the molecule was read (1-based)
  std::string name;
  std::string cas;  // CAS registry number and identifier the input gives (SDF data items,
  std::string id;   // table columns); may be empty
  std::string smiles;
  std::string formula;  // of the whole molecule, hydrogens included
  int mol_mass = 0;     // nominal
  double mol_mass_avg = 0;
  counts::Lpi lpi;
  std::vector<vif::BondRecord> soft_bonds;
  std::vector<ms::FragmentEntry> fragments;
  std::optional<std::vector<ms::GenerationPeak>> recursive_peaks;
  prediction::Model model = prediction::Model::schematic;
  std::vector<prediction::Peak> peaks;  // the model's sticks, ascending m/z
  // The choices beyond the defaults the record was made with, which its
  // files name: ring double cuts, and the generations of further cuts.
  bool ring_cuts = false;
  std::optional<int> generations;
};

// The record of a molecule predicted with its analysis
// (prediction::Analysis::wanted); the prediction is consumed. Throws
// InvalidInput for a prediction without its analysis.
SpectrumRecord make_record(std::size_t line, std::string name, std::string smiles, prediction::Prediction&& prediction);

// Sets the record's choices from the options of its analysis.
void note_options(SpectrumRecord& record, const analysis::Options& options);

// The record's choices as the command line spells them ("--ring --recursive
// --max-generations 3"); empty for a record made with the defaults.
std::string options_text(const SpectrumRecord& record);

// The full record as one JSON object (the JSON Lines row and the Python dict):
// "casno", "id" and "options" only when the record has them.
nlohmann::ordered_json record_json(const SpectrumRecord& record);

}  // namespace tessarin::batch
