#include "prediction/predict.h"

#include "prediction/ei_model.h"
#include "prediction/schematic.h"

namespace tessarin::prediction {

std::optional<Model> model_named(std::string_view name) {
  if (name == "schematic") return Model::schematic;
  if (name == "ei") return Model::ei;
  return std::nullopt;
}

const char* model_name(Model model) {
  switch (model) {
    case Model::schematic:
      return "schematic";
    case Model::ei:
      return "ei";
  }
  return "schematic";
}

spectra::Spectrum predicted_spectrum(const analysis::Result& result, const std::string& smiles,
                                     const PredictionOptions& options, const std::string& name) {
  switch (options.model) {
    case Model::schematic:
      break;
    case Model::ei:
      return ei_spectrum(smiles, result.formula, result.mol_mass, name);
  }
  return schematic_spectrum(result, smiles, name);
}

std::optional<spectra::Spectrum> predict_spectrum(const std::string& smiles, const PredictionOptions& options,
                                                  const analysis::StopCheck& stop, const std::string& name) {
  std::optional<analysis::Result> result = analysis::analyse_smiles(smiles, options.analysis, stop);
  if (!result) return std::nullopt;
  return predicted_spectrum(*result, smiles, options, name);
}

}  // namespace tessarin::prediction
