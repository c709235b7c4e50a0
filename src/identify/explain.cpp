#include "identify/explain.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/errors.h"
#include "core/number_format.h"
#include "prediction/predict.h"

namespace tessarin::identify {

PeakExplanation explain_peaks(const spectra::Spectrum& measured, const std::string& smiles,
                              const ExplainOptions& options) {
  measured.check();
  options.score.check();
  double base = 0;
  double total = 0;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    if (measured.intensities[i] > 0) {
      base = std::max(base, measured.intensities[i]);
      total += measured.intensities[i];
    }
  }
  if (!(base > 0)) throw InvalidInput("the spectrum has no peak of positive intensity");
  const std::optional<prediction::EiExplanation> why = prediction::explain_ei_spectrum(smiles);
  prediction::PredictionOptions model;
  model.model = prediction::Model::ei;
  std::optional<spectra::Spectrum> predicted = prediction::predict_spectrum(smiles, model);
  if (!why || !predicted) throw InvalidInput("the SMILES cannot be read: " + smiles);

  PeakExplanation out;
  out.predicted = std::move(*predicted);
  out.score = spectra::similarity(measured, out.predicted, options.score).score;
  int predicted_base = 0;
  for (const prediction::EiExplainedPeak& p : why->peaks) predicted_base = std::max(predicted_base, p.intensity);
  double explained = 0;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    if (!(measured.intensities[i] > 0)) continue;
    ExplainedPeak peak;
    peak.mz = measured.mz[i];
    peak.intensity = measured.intensities[i];
    peak.relative = 100 * peak.intensity / base;
    // The nearest predicted peak within the tolerance.
    const prediction::EiExplainedPeak* match = nullptr;
    for (const prediction::EiExplainedPeak& p : why->peaks) {
      const double d = std::fabs(p.mz - peak.mz);
      if (p.intensity > 0 && d <= options.tolerance && (!match || d < std::fabs(match->mz - peak.mz))) match = &p;
    }
    if (match) {
      peak.predicted_mz = match->mz;
      peak.predicted_relative = predicted_base > 0 ? 100.0 * match->intensity / predicted_base : 0;
      for (const prediction::EiContribution& c : match->contributions) {
        const prediction::EiExplainedIon& ion = why->ions.at(c.ion);
        const auto same = std::find_if(peak.ions.begin(), peak.ions.end(), [&](const IonAtPeak& a) {
          return a.formula == ion.formula && a.isotope_offset == c.isotope_offset;
        });
        if (same != peak.ions.end()) {
          same->share += c.share;
          continue;
        }
        IonAtPeak at;
        at.hydrogen_shift = ion.hydrogen_shift;
        at.formula = ion.formula;
        at.isotope_offset = c.isotope_offset;
        at.share = c.share;
        at.molecular = ion.molecular;
        at.neutral = ion.neutral;
        for (const prediction::EiFeatureContribution& f : ion.features) {
          if (at.reasons.size() >= 3) break;
          if (f.contribution == 0) continue;
          at.reasons.push_back(f.name + " " + (f.contribution > 0 ? "+" : "") + core::format_fixed(f.contribution, 2));
        }
        peak.ions.push_back(std::move(at));
      }
      std::stable_sort(peak.ions.begin(), peak.ions.end(),
                       [](const IonAtPeak& a, const IonAtPeak& b) { return a.share > b.share; });
      for (std::size_t k = peak.ions.size(); k > 1; --k) {
        if (peak.ions[k - 1].share < options.min_share) peak.ions.erase(peak.ions.begin() + static_cast<long>(k - 1));
      }
    }
    if (!peak.ions.empty()) explained += peak.intensity;
    if (peak.ions.empty() && peak.relative >= options.strong) out.unexplained_strong.push_back(out.peaks.size());
    out.peaks.push_back(std::move(peak));
  }
  out.explained_share = explained / total;
  return out;
}

}  // namespace tessarin::identify
