#include "identify/predict_many.h"

#include <cmath>

#include "core/errors.h"
#include "molecule/prepare_molecule.h"
#include "run/molecule_step.h"

namespace tessarin::identify {

void PredictionRun::check() const {
  analysis::check_options(prediction.analysis);
  if (prediction.analysis.max_generations < 0) throw InvalidInput("max_generations must not be negative");
  if (std::isnan(time_limit_seconds)) throw InvalidInput("the time limit must be a number");
}

run::BatchSummary predict_spectra(const MoleculeSource& read, const PredictionRun& run,
                                  const std::function<void(run::Outcome&)>& collect, const CompositionFilter& keep) {
  run.check();
  std::atomic<bool> never{false};
  std::atomic<bool>& cancel = run.cancel != nullptr ? *run.cancel : never;
  run::BatchCallbacks cb;
  cb.read = read;
  cb.process = [&run, &keep, &cancel](run::Outcome& o) {
    run::guarded_step(o, run.time_limit_seconds, &cancel, [&](const analysis::StopCheck& stop) {
      // The molecule is prepared once: for the filter and for the prediction.
      stop("the preparation");
      std::optional<molecule::PreparedMolecule> prepared = molecule::prepare(o.input.smiles);
      if (!prepared) throw InvalidInput(molecule::smiles_error(o.input.smiles));
      if (keep && !keep(composition_of(*prepared->mol))) return;
      const prediction::Prediction p = prediction::predict(std::move(*prepared), o.input.smiles, run.prediction,
                                                           prediction::Analysis::if_needed, stop);
      o.spectrum = prediction::spectrum_of(p, o.input.smiles, o.input.name);
    });
  };
  cb.write = collect;
  cb.progress = run.progress;
  run::warm_up();
  return run::run_batch(cb, run.jobs, cancel);
}

}  // namespace tessarin::identify
