// Predicted spectra by model: the one route from a molecule to its predicted
// peaks and spectrum, whatever the model.
//
//   SMILES ─▶ prepared molecule ─┬─▶ (VIF analysis, when asked for or the model needs it) ─▶ peaks
//                                └─────────────────────────────────────────────────────────▶ peaks (ei)
//
// The schematic model's sticks are the analysis' fragments, so it always
// runs the analysis; the EI model reads the prepared molecule alone, and
// runs after the analysis only when the caller wants that too (library
// records hold the LPI, soft bonds and fragments).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"
#include "molecule/prepare_molecule.h"
#include "prediction/ei_model.h"
#include "prediction/schematic.h"
#include "spectra/spectrum.h"

namespace tessarin::prediction {

enum class Model {
  schematic,  // every fragment at 599, the molecular ion at 999, one m/z per cut
  ei,         // intensities from competing ions with isotope clusters (ei_model.h)
};

// "schematic" or "ei"; nothing for another name.
std::optional<Model> model_named(std::string_view name);
const char* model_name(Model model);

struct PredictionOptions {
  Model model = Model::schematic;
  analysis::Options analysis;
};

// Whether the caller needs the VIF analysis beside the peaks.
enum class Analysis { if_needed, wanted };

// The step name the stop check is told while the EI model runs.
inline constexpr const char* kEiStep = "the EI model";

struct Prediction {
  Model model = Model::schematic;
  std::string formula;  // of the whole molecule, hydrogens included
  int mol_mass = 0;     // nominal
  // With Analysis::wanted, and always for the schematic model.
  std::optional<analysis::Result> analysis;
  std::vector<Peak> peaks;  // ascending m/z; an EI peak lists every formula at its m/z
};

// The prediction of a prepared molecule (molecule::prepare of `smiles`, which
// the analysis' report would name). `stop` is checked all through, the EI
// model's work included (step kEiStep). Throws what the analysis throws.
Prediction predict(molecule::PreparedMolecule&& prepared, const std::string& smiles, const PredictionOptions& options,
                   Analysis need = Analysis::if_needed, const analysis::StopCheck& stop = {});

// The same from a SMILES; nothing when it does not parse. Throws InvalidInput
// for analysis options out of range.
std::optional<Prediction> predict(const std::string& smiles, const PredictionOptions& options,
                                  Analysis need = Analysis::if_needed, const analysis::StopCheck& stop = {});

// The prediction as a Spectrum: its peaks annotated with their formulas, the
// molecule's name, SMILES, formula and nominal mass as metadata, and for the
// EI model the comment naming it.
spectra::Spectrum spectrum_of(const Prediction& prediction, const std::string& smiles, const std::string& name = {});

// predict() without the analysis, as a Spectrum; nothing when the SMILES does
// not parse.
std::optional<spectra::Spectrum> predict_spectrum(const std::string& smiles, const PredictionOptions& options,
                                                  const analysis::StopCheck& stop = {}, const std::string& name = {});

// Why the EI model predicts the spectrum it does for `smiles` (ei_explain);
// nothing when the SMILES does not parse.
std::optional<EiExplanation> explain_ei_spectrum(const std::string& smiles, const analysis::StopCheck& stop = {});

}  // namespace tessarin::prediction
