#include "identify/predict_many.h"

#include <cmath>

#include "core/errors.h"
#include "run/molecule_step.h"

namespace tessarin::identify {

void PredictionRun::check() const {
  analysis::check_options(prediction.analysis);
  if (prediction.analysis.max_generations < 0) throw InvalidInput("max_generations must not be negative");
  if (std::isnan(time_limit_seconds)) throw InvalidInput("the time limit must be a number");
}

batch::BatchSummary predict_spectra(const MoleculeSource& read, const PredictionRun& run,
                                    const std::function<void(batch::Outcome&)>& collect,
                                    const CompositionFilter& keep) {
  run.check();
  std::atomic<bool> never{false};
  std::atomic<bool>& cancel = run.cancel != nullptr ? *run.cancel : never;
  batch::BatchCallbacks cb;
  cb.read = read;
  cb.process = [&run, &keep, &cancel](batch::Outcome& o) {
    batch::guarded_step(o, run.time_limit_seconds, &cancel, [&](const analysis::StopCheck& stop) {
      if (keep) {
        const std::optional<Composition> c = composition_of(o.input.smiles);
        if (!c) throw InvalidInput("unparsable SMILES");
        if (!keep(*c)) return;
      }
      o.spectrum = prediction::predict_spectrum(o.input.smiles, run.prediction, stop, o.input.name);
      if (!o.spectrum) throw InvalidInput(o.input.smiles.empty() ? "no SMILES" : "unparsable SMILES");
    });
  };
  cb.write = collect;
  cb.progress = run.progress;
  batch::warm_up();
  return batch::run_batch(cb, run.jobs, cancel);
}

}  // namespace tessarin::identify
