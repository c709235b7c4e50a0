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
      if (keep) {
        const std::optional<Composition> c = composition_of(o.input.smiles);
        if (!c) throw InvalidInput(molecule::smiles_error(o.input.smiles, /*sanitise=*/true));
        if (!keep(*c)) return;
      }
      o.spectrum = prediction::predict_spectrum(o.input.smiles, run.prediction, stop, o.input.name);
      if (!o.spectrum) throw InvalidInput(molecule::smiles_error(o.input.smiles));
    });
  };
  cb.write = collect;
  cb.progress = run.progress;
  run::warm_up();
  return run::run_batch(cb, run.jobs, cancel);
}

}  // namespace tessarin::identify
