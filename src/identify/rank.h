// Ranking candidate structures for a measured spectrum: every candidate is
// predicted, optionally only those of the right nominal mass or formula,
// and scored against the measured spectrum.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "identify/mass_prior.h"
#include "identify/predict_many.h"
#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

struct CandidateFilter {
  std::optional<int> nominal_mass;     // keep candidates of this nominal mass
  std::optional<std::string> formula;  // keep candidates of this formula (element counts compared)

  bool active() const { return nominal_mass.has_value() || formula.has_value(); }
  // Throws InvalidInput for a formula that formula_counts cannot read.
  void check() const;
  bool keeps(const Composition& c) const;
};

// The nominal mass of the spectrum's molecular ion, as its metadata gives the
// molecular mass (Spectrum::molecular_mass, rounded) or else the molecular
// formula (a JCAMP-DX ##MOLFORM, an MSP Formula); nothing without either.
std::optional<int> molecular_ion_mass(const spectra::Spectrum& spectrum);

struct RankOptions {
  PredictionRun run;
  // The score that ranks (default: the cosine of square-rooted intensities,
  // the score of the identification measures).
  spectra::SimilarityOptions score = spectra::sqrt_cosine();
  CandidateFilter filter;
  // When given (best first): only candidates of these masses are kept
  // (besides the filter's conditions) and they are ranked by
  // hypothesis_rank_score of their evidence, with the weights for hypotheses
  // weighed with a library's evidence or, by default, the peaks alone.
  std::vector<MassPrior> mass_hypotheses;
  bool masses_from_library = false;
};

struct RankedCandidate {
  std::size_t rank = 0;  // 1-based; equal scores share the best rank
  double score = 0;
  std::size_t matched = 0;   // matched peak pairs
  std::size_t position = 0;  // 0-based place among the candidates read
  std::size_t line = 0;      // where it was read (1-based)
  std::string name;
  std::string smiles;
  std::string formula;
  spectra::Spectrum predicted;
  std::optional<MassPrior> mass;  // the hypothesis of its mass (RankOptions::mass_hypotheses)
  HypothesisEvidence evidence{};  // with a hypothesis: the evidence that ranks it
  double rank_score = 0;          // what ranks it: the score, or hypothesis_rank_score with hypotheses
};

struct FailedMolecule {
  std::size_t position = 0;
  std::size_t line = 0;
  std::string name;
  std::string smiles;
  std::string reason;
};

struct Ranking {
  // Higher rank_score first; equal ones in the order the candidates were read.
  std::vector<RankedCandidate> rows;
  std::vector<FailedMolecule> failed;
  std::size_t filtered_out = 0;  // candidates of another mass or formula
  bool cancelled = false;        // stopped: the rows rank the candidates done so far
};

// Throws InvalidInput for a measured spectrum that fails Spectrum::check and
// options out of range, before any candidate is read; what `read` throws.
Ranking rank_candidates(const spectra::Spectrum& measured, const MoleculeSource& read, const RankOptions& options);

// A spectrum whose molecular mass is not given, against candidate structures
// in two steps. First its masses of the peaks alone: the first
// kSearchedMasses hypotheses, whose candidates are predicted and ranked
// (RankOptions::mass_hypotheses). Then the mass again with those predictions
// as a library's evidence (the mass whose candidates explain the peaks best),
// over the masses that have candidates: candidates_across_masses keeps the
// rows of its plausible masses and ranks them by hypothesis_rank_score with
// the library's weights, each with its mass's new score (the hypotheses'
// scores renormalised over the masses with candidates). The rows must come
// from rank_candidates with mass hypotheses (their evidence is reused).
inline constexpr std::size_t kSearchedMasses = 10;
// Throws InvalidInput as spectra::estimate_molecular_mass does.
std::vector<MassPrior> searched_masses(const spectra::Spectrum& measured);
// Returns the plausible masses, best first (none when no row is left);
// rows dropped count as filtered_out.
std::vector<MassPrior> candidates_across_masses(const spectra::Spectrum& measured, Ranking& ranking,
                                                const spectra::MassEstimateOptions& estimate = {});

}  // namespace tessarin::identify
