#include "prediction/predict.h"

#include <numeric>

#include "core/errors.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"

namespace tessarin::prediction {
namespace {

core::InterruptCheck ei_poll(const analysis::StopCheck& stop) {
  if (!stop) return {};
  return [&stop] { stop(kEiStep); };
}

std::vector<Peak> ei_sticks(const RDKit::ROMol& mol, const molecule::Perception& perception,
                            const analysis::StopCheck& stop) {
  if (stop) stop(kEiStep);
  std::vector<Peak> out;
  for (EiPeak& p : ei_peaks(mol, perception, ei_poll(stop))) {
    std::string first = p.formulas.empty() ? std::string() : p.formulas.front();
    out.push_back(Peak{p.mz, p.intensity, std::move(first), std::move(p.formulas)});
  }
  return out;
}

}  // namespace

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

Prediction predict(molecule::PreparedMolecule&& prepared, const std::string& smiles, const PredictionOptions& options,
                   Analysis need, const analysis::StopCheck& stop) {
  Prediction p;
  p.model = options.model;
  if (need == Analysis::wanted || options.model == Model::schematic) {
    p.analysis = analysis::analyse_prepared(std::move(prepared), smiles, options.analysis, stop);
    const analysis::Result& a = *p.analysis;
    p.formula = a.formula;
    p.mol_mass = a.mol_mass;
    switch (options.model) {
      case Model::schematic:
        p.peaks = schematic_peaks(a.mol_mass, a.formula, a.fragments, a.recursive_peaks);
        break;
      case Model::ei:
        p.peaks = ei_sticks(*a.mol, a.perception, stop);
        break;
    }
    return p;
  }
  if (!prepared.mol) throw InvalidInput("no molecule to predict");
  const RDKit::ROMol& mol = *prepared.mol;
  std::vector<int> atoms(mol.getNumAtoms());
  std::iota(atoms.begin(), atoms.end(), 0);
  p.formula = core::fragment_formula(mol, atoms);
  p.mol_mass = core::nominal_mass(mol);
  p.peaks = ei_sticks(mol, prepared.perception, stop);
  return p;
}

std::optional<Prediction> predict(const std::string& smiles, const PredictionOptions& options, Analysis need,
                                  const analysis::StopCheck& stop) {
  analysis::check_options(options.analysis);
  if (stop) stop("the preparation");
  std::optional<molecule::PreparedMolecule> prepared = molecule::prepare(smiles);
  if (!prepared) return std::nullopt;
  return predict(std::move(*prepared), smiles, options, need, stop);
}

spectra::Spectrum spectrum_of(const Prediction& prediction, const std::string& smiles, const std::string& name) {
  spectra::Spectrum s;
  for (const Peak& p : prediction.peaks) {
    s.mz.push_back(p.mz);
    s.intensities.push_back(p.intensity);
    if (prediction.model == Model::schematic) {
      s.annotations.push_back({p.formula});
    } else {
      s.annotations.push_back(p.formulas);
    }
  }
  if (!name.empty()) s.metadata.set(spectra::keys::name, name);
  s.metadata.set(spectra::keys::smiles, smiles);
  s.metadata.set(spectra::keys::formula, prediction.formula);
  s.metadata.set(spectra::keys::mol_mass, std::to_string(prediction.mol_mass));
  if (prediction.model == Model::ei) s.metadata.set(spectra::keys::comments, kEiModelComment);
  return s;
}

std::optional<spectra::Spectrum> predict_spectrum(const std::string& smiles, const PredictionOptions& options,
                                                  const analysis::StopCheck& stop, const std::string& name) {
  std::optional<Prediction> p = predict(smiles, options, Analysis::if_needed, stop);
  if (!p) return std::nullopt;
  return spectrum_of(*p, smiles, name);
}

std::optional<EiExplanation> explain_ei_spectrum(const std::string& smiles, const analysis::StopCheck& stop) {
  if (stop) stop("the preparation");
  std::optional<molecule::PreparedMolecule> prepared = molecule::prepare(smiles);
  if (!prepared) return std::nullopt;
  if (stop) stop(kEiStep);
  return ei_explain(*prepared->mol, prepared->perception, ei_poll(stop));
}

}  // namespace tessarin::prediction
