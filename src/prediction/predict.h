// Predicted spectra by model: the one entry point from a molecule to its
// predicted spectrum.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
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

// The predicted spectrum of an analysed molecule.
spectra::Spectrum predicted_spectrum(const analysis::Result& result, const std::string& smiles,
                                     const PredictionOptions& options, const std::string& name = {});

// Analyses `smiles` and predicts its spectrum; nothing when the SMILES does
// not parse.
std::optional<spectra::Spectrum> predict_spectrum(const std::string& smiles, const PredictionOptions& options,
                                                  const analysis::StopCheck& stop = {}, const std::string& name = {});

}  // namespace tessarin::prediction
