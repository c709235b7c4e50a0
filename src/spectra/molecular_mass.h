// The molecular mass of an unknown EI spectrum from its peaks alone: ranked
// nominal-mass hypotheses, each with a probability-like score and the
// evidence for it in words.
//
// Every integer mass from 16 below the highest peak of at least 0.5 % of the
// base peak to 150 above it is a candidate. A candidate m is described by
// named evidence read from the peaks (intensities relative to the base peak):
// the peak at m and its isotope cluster (the best fitting pattern of C, Cl,
// Br, S and Si), the intensity above m that no isotope pattern explains,
// peaks at losses that cannot happen (m-4..m-13, m-21..m-25) and at common
// ones (m-1, m-15, m-18, ...), the nitrogen rule (the parity of m against
// that of the fragments), and how far m lies from the highest peak. Given a
// predicted library, also the best similarity among its entries of mass m.
// Each candidate's score is w . x with weights fitted offline on measured
// spectra (scripts/fit_molecular_mass.py, molecular_mass_weights.cpp), and
// the hypotheses' scores are the softmax of these over all candidates: they
// sum to 1 over every candidate, so to at most 1 over those returned.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spectra/search.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra {

// What a predicted library says about each nominal mass for one query: the
// best similarity (cosine of square-rooted intensities) among the library
// entries of that mass, and how many entries the mass has.
struct LibraryMassEvidence {
  struct Mass {
    std::size_t entries = 0;     // library entries of this nominal mass
    double best = 0;             // best score among them (0: none shares a peak with the query)
    std::size_t best_index = 0;  // library index of the best one (when best > 0)
    std::string best_name;
  };
  std::map<int, Mass> masses;
};

// The library evidence of each query: one search of every query against the
// whole library (up to `threads` threads; 0: one per core). Entries without a
// molecular mass are left out. A query that cannot be searched gets empty
// evidence.
std::vector<LibraryMassEvidence> library_mass_evidence(const SpectralLibrary& library,
                                                       std::span<const Spectrum> queries, unsigned threads = 0);

struct MassHypothesis {
  int mass = 0;
  double score = 0;                   // share of the probability over all candidate masses
  std::vector<std::string> evidence;  // one line per piece of evidence
  bool operator==(const MassHypothesis&) const = default;
};

struct MassEstimateOptions {
  std::size_t max_hypotheses = 5;  // at most this many hypotheses
  double min_score = 0.01;         // and only those scoring at least this (the best is always kept)
  // The plausible masses: hypotheses scoring at least plausible_ratio times
  // the best, at most max_plausible of them (weaker masses bring hits that
  // outscore the right one more often than they hold it).
  double plausible_ratio = 0.3;
  std::size_t max_plausible = 3;

  // Throws InvalidInput for options out of range.
  void check() const;
};

struct MassEstimate {
  std::vector<MassHypothesis> hypotheses;  // best first
  bool used_library = false;
  // The masses of the plausible hypotheses, best first (never empty).
  std::vector<int> plausible;
};

// Throws InvalidInput when the spectrum fails Spectrum::check, has no peak of
// positive intensity, or the options are out of range. The result depends on
// the peaks only (not on the metadata, nor on anything computed before).
MassEstimate estimate_molecular_mass(const Spectrum& spectrum, const MassEstimateOptions& options = {},
                                     const LibraryMassEvidence* library = nullptr);

// Every query against one library (library evidence from one search).
std::vector<MassEstimate> estimate_molecular_masses(std::span<const Spectrum> spectra,
                                                    const MassEstimateOptions& options, const SpectralLibrary* library,
                                                    unsigned threads = 0);

// The candidates and their evidence as numbers, for the fitting script:
// feature names, and per candidate mass one row of values in that order.
struct MassFeatures {
  std::vector<int> masses;
  std::vector<std::vector<double>> rows;
};
std::span<const std::string_view> mass_feature_names(bool with_library);
MassFeatures molecular_mass_features(const Spectrum& spectrum, const LibraryMassEvidence* library = nullptr);

}  // namespace tessarin::spectra
