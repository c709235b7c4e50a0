// A measured spectrum explained by the EI model's prediction for one
// structure: each measured peak with the predicted ions at its m/z and the
// model's reasons for them, the share of the measured intensity explained,
// and the strong measured peaks that nothing explains.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

// A predicted ion's part in a measured peak.
struct IonAtPeak {
  std::string formula;     // the ion's formula
  int isotope_offset = 0;  // 0: its own peak; 1, 2, ...: its M+1, M+2, ... isotope peak
  double share = 0;        // of the predicted peak's intensity
  bool molecular = false;  // the molecular ion (hydrogen_shift -1: M-H)
  int hydrogen_shift = 0;  // hydrogens gained (+) or lost (-) besides the cut
  std::string neutral;     // what the molecule lost to make it ("" for the molecular ion)
  // The model's strongest reasons for the ion: feature names with their part
  // in its score, "name +0.42", strongest first (at most three).
  std::vector<std::string> reasons;
};

struct ExplainedPeak {
  double mz = 0;
  double intensity = 0;           // as measured
  double relative = 0;            // percent of the measured base peak
  int predicted_mz = 0;           // the predicted peak it is matched to (0: none)
  double predicted_relative = 0;  // that peak's percent of the predicted base peak
  // Largest share first; ions of one formula and isotope peak (the same ion
  // from equivalent atoms) as one, their shares summed; those below
  // ExplainOptions::min_share left out but the first. Empty when nothing
  // explains the peak.
  std::vector<IonAtPeak> ions;
};

struct PeakExplanation {
  std::vector<ExplainedPeak> peaks;             // the measured peaks of positive intensity, ascending m/z
  double explained_share = 0;                   // of the measured intensity, in peaks some predicted ion explains
  std::vector<std::size_t> unexplained_strong;  // indices into peaks: strong ones nothing explains
  double score = 0;                             // similarity(measured, predicted, score options)
  spectra::Spectrum predicted;                  // the EI model's spectrum of the structure
};

struct ExplainOptions {
  double tolerance = 0.5;   // m/z between a measured and a predicted peak
  double strong = 5;        // percent of the base peak from which an unexplained peak is named
  double min_share = 0.05;  // of a predicted peak: smaller parts are not listed
  spectra::SimilarityOptions score = [] {
    spectra::SimilarityOptions o = spectra::sqrt_cosine();
    o.measured_range = true;
    return o;
  }();
};

// Throws InvalidInput for a SMILES that does not parse, a spectrum that fails
// Spectrum::check or has no peak of positive intensity.
PeakExplanation explain_peaks(const spectra::Spectrum& measured, const std::string& smiles,
                              const ExplainOptions& options = {});

}  // namespace tessarin::identify
