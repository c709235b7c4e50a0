#include "prediction/predict.h"

#include "prediction/schematic.h"

namespace tessarin::prediction {

std::optional<Model> model_named(std::string_view name) {
  if (name == "schematic") return Model::schematic;
  return std::nullopt;
}

const char* model_name(Model model) {
  switch (model) {
    case Model::schematic:
      return "schematic";
  }
  return "schematic";
}

spectra::Spectrum predicted_spectrum(const analysis::Result& result, const std::string& smiles,
                                     const PredictionOptions& options, const std::string& name) {
  switch (options.model) {
    case Model::schematic:
      break;
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
