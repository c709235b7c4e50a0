// Evaluating a spectrum model on measured spectra of known structure: each
// structure's spectrum is predicted and compared with the measured one
// (spectra/evaluation.h has the measures), and the prediction's power to
// identify is measured among isobaric candidates.
//
// Candidates: the distinct structures (canonical SMILES without
// stereochemistry) of all the measured spectra evaluated together whose
// nominal mass equals the spectrum's structure's. Every structure is
// predicted once and serves as the candidate of every spectrum of its mass;
// the candidates' predicted spectra are scored against the measured one and
// the true structure's rank (ties counting half) gives top-1, top-3 and the
// reciprocal rank. A structure whose prediction fails is no candidate.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "identify/predict_many.h"
#include "spectra/evaluation.h"
#include "spectra/reader.h"
#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

struct EvaluateOptions {
  PredictionRun run;
  // The similarity of the predicted to the measured spectrum.
  spectra::SimilarityOptions score = spectra::sqrt_cosine();
  // The score that ranks the candidates.
  spectra::SimilarityOptions identification = spectra::sqrt_cosine();
  spectra::PeakMeasureOptions peaks;

  void check() const;
};

struct EvaluatedSpectrum {
  std::size_t record = 0;  // 0-based among the spectra evaluated
  std::string path;        // where it was read (evaluate_files), else ""
  std::size_t line = 0;
  std::string name;
  std::string accession;
  std::string smiles;  // canonical, without stereochemistry ("" when unreadable)
  std::string formula;
  std::optional<int> nominal_mass;
  std::size_t candidates = 0;  // this structure included; 0 when not ranked
  spectra::MoleculeEvaluation measures;
  std::string error;  // why there are no measures ("" when there are)
};

struct Evaluation {
  std::vector<EvaluatedSpectrum> spectra;
  spectra::EvaluationSummary summary;
  double mean_candidates = 0;  // over the ranked spectra
  std::size_t structures = 0;  // distinct structures predicted
  std::size_t failed_structures = 0;
  bool cancelled = false;  // stopped: unpredicted structures are errors
  // Wall-clock seconds of the steps, for benchmarks: reading (evaluate_files),
  // telling the structures apart, predicting them, scoring.
  struct Times {
    double reading = 0, structures = 0, prediction = 0, scoring = 0;
  } times;
};

// Throws InvalidInput for options out of range or a spectrum that fails
// Spectrum::check. A spectrum without a SMILES, or whose SMILES does not
// parse or whose prediction fails, gets its error and no measures.
Evaluation evaluate_spectra(std::span<const spectra::Spectrum> measured, const EvaluateOptions& options);

// The spectra of `paths` (each a file or a MassBank directory), read in turn.
// Malformed records go to `record_error` and are left out (without it the
// first one is thrown).
Evaluation evaluate_files(const std::vector<std::string>& paths, const EvaluateOptions& options,
                          const std::function<void(const spectra::RecordError&)>& record_error = {},
                          std::optional<spectra::Format> format = std::nullopt);

}  // namespace tessarin::identify
