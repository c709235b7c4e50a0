// Predicting the spectra of many molecules on the batch's worker threads,
// for the drivers that score the predictions instead of writing them.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "identify/structure.h"
#include "prediction/predict.h"
#include "run/input.h"
#include "run/pipeline.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

// The next molecule, false at the end (run::BatchCallbacks::read).
using MoleculeSource = std::function<bool(run::MoleculeInput&)>;

struct PredictionRun {
  prediction::PredictionOptions prediction;  // model, ring cuts, further generations
  unsigned jobs = 0;                         // worker threads; 0: one per core
  double time_limit_seconds = 0;             // per molecule; <= 0: no limit
  // Set to stop (Ctrl-C); the run then returns with `cancelled` set.
  std::atomic<bool>* cancel = nullptr;
  // About ten times a second and at the end, on the calling thread.
  std::function<void(const run::BatchProgress&)> progress;

  // Throws InvalidInput for options out of range.
  void check() const;
};

// Worker thread, before the analysis: whether to predict the molecule of
// this composition at all (a molecule refused here is neither predicted nor
// a failure).
using CompositionFilter = std::function<bool(const Composition&)>;

// Predicts every molecule `read` gives, in input order to `collect` (calling
// thread): each outcome has its `spectrum` (name from the input, SMILES as
// given), or its `error`, or neither when `keep` refused it. A SMILES that
// does not parse, an unknown element or the time limit is that molecule's
// error; the run goes on. Throws what `read` throws (InvalidInput for a
// table without a SMILES column) after the molecules before it.
run::BatchSummary predict_spectra(const MoleculeSource& read, const PredictionRun& run,
                                  const std::function<void(run::Outcome&)>& collect,
                                  const CompositionFilter& keep = {});

}  // namespace tessarin::identify
