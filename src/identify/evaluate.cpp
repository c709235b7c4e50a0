#include "identify/evaluate.h"

#include <charconv>
#include <map>
#include <unordered_map>

#include "core/errors.h"

namespace tessarin::identify {
namespace {

struct Structure {
  std::string smiles;
  std::optional<spectra::Spectrum> predicted;
  std::optional<int> nominal_mass;
  std::string formula;
  std::string error;
};

double seconds_since(std::chrono::steady_clock::time_point& start) {
  const auto now = std::chrono::steady_clock::now();
  const double s = std::chrono::duration<double>(now - start).count();
  start = now;
  return s;
}

std::optional<int> integer_text(const std::string& text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

void EvaluateOptions::check() const {
  run.check();
  score.check();
  identification.check();
}

Evaluation evaluate_spectra(std::span<const spectra::Spectrum> measured, const EvaluateOptions& options) {
  options.check();
  for (const spectra::Spectrum& s : measured) s.check();
  auto clock = std::chrono::steady_clock::now();
  Evaluation out;
  out.spectra.resize(measured.size());

  // The distinct structures, in order of first appearance.
  std::vector<Structure> structures;
  std::unordered_map<std::string, std::size_t> structure_of_smiles;
  std::vector<std::optional<std::size_t>> structure_of(measured.size());
  for (std::size_t i = 0; i < measured.size(); ++i) {
    EvaluatedSpectrum& e = out.spectra[i];
    e.record = i;
    e.name = measured[i].name();
    e.accession = measured[i].metadata.get(spectra::keys::accession);
    const std::string smiles = measured[i].metadata.get(spectra::keys::smiles);
    if (smiles.find_first_not_of(" \t\r\n") == std::string::npos) {
      e.error = "no SMILES";
      continue;
    }
    const std::optional<std::string> canonical = canonical_smiles(smiles);
    if (!canonical) {
      e.error = "unreadable SMILES: " + smiles;
      continue;
    }
    e.smiles = *canonical;
    const auto [it, added] = structure_of_smiles.emplace(*canonical, structures.size());
    if (added) structures.push_back(Structure{*canonical, {}, {}, {}, {}});
    structure_of[i] = it->second;
  }

  out.times.structures = seconds_since(clock);

  // Each structure predicted once.
  std::size_t next = 0;
  std::size_t done = 0;
  const run::BatchSummary run = predict_spectra(
      [&](run::MoleculeInput& m) {
        if (next >= structures.size()) return false;
        m.line = next + 1;
        m.smiles = structures[next++].smiles;
        return true;
      },
      options.run,
      [&](run::Outcome& o) {
        Structure& s = structures[o.index];
        ++done;
        if (!o.spectrum) {
          s.error = o.error.empty() ? "not predicted" : o.error;
          return;
        }
        s.formula = o.spectrum->metadata.get(spectra::keys::formula);
        s.nominal_mass = integer_text(o.spectrum->metadata.get(spectra::keys::mol_mass));
        if (!s.nominal_mass) s.error = "the prediction gives no nominal mass";
        s.predicted = std::move(*o.spectrum);
      });
  out.times.prediction = seconds_since(clock);
  out.cancelled = run.cancelled;
  out.structures = structures.size();
  for (std::size_t k = done; k < structures.size(); ++k) structures[k].error = "not predicted (the run was stopped)";
  std::map<int, std::vector<std::size_t>> isobars;  // nominal mass -> structures, in order
  for (std::size_t k = 0; k < structures.size(); ++k) {
    if (structures[k].error.empty()) {
      isobars[*structures[k].nominal_mass].push_back(k);
    } else {
      ++out.failed_structures;
    }
  }

  std::vector<spectra::MoleculeEvaluation> measures;
  double candidate_sum = 0;
  std::size_t ranked = 0;
  std::vector<double> scores;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    EvaluatedSpectrum& e = out.spectra[i];
    if (!structure_of[i]) continue;
    const Structure& s = structures[*structure_of[i]];
    e.formula = s.formula;
    e.nominal_mass = s.nominal_mass;
    if (!s.error.empty()) {
      e.error = "prediction failed: " + s.error;
      continue;
    }
    const spectra::Spectrum& predicted = *s.predicted;
    const std::vector<std::size_t>& group = isobars.at(*s.nominal_mass);
    try {
      e.measures.score = spectra::similarity(measured[i], predicted, options.score).score;
      e.measures.peaks = spectra::peak_measures(measured[i], predicted, s.nominal_mass, options.peaks);
      scores.clear();
      std::size_t own = 0;
      for (std::size_t k : group) {
        if (k == *structure_of[i]) own = scores.size();
        scores.push_back(spectra::similarity(measured[i], *structures[k].predicted, options.identification).score);
      }
      e.measures.rank = spectra::candidate_rank(scores, own);
    } catch (const InvalidInput& failure) {  // a spectrum the measures cannot take (m/z beyond integers)
      e.measures = {};
      e.error = failure.what();
      continue;
    }
    e.candidates = group.size();
    candidate_sum += static_cast<double>(group.size());
    ++ranked;
  }
  for (const EvaluatedSpectrum& e : out.spectra) measures.push_back(e.measures);
  out.summary = spectra::summarize(measures);
  out.mean_candidates = ranked ? candidate_sum / static_cast<double>(ranked) : 0.0;
  out.times.scoring = seconds_since(clock);
  return out;
}

Evaluation evaluate_files(const std::vector<std::string>& paths, const EvaluateOptions& options,
                          const std::function<void(const spectra::RecordError&)>& record_error,
                          std::optional<spectra::Format> format) {
  options.check();
  auto clock = std::chrono::steady_clock::now();
  std::vector<spectra::Spectrum> measured;
  std::vector<std::pair<std::string, std::size_t>> places;
  for (const std::string& path : paths) {
    spectra::SpectrumReader reader(path, format);
    spectra::Spectrum s;
    for (;;) {
      try {
        if (!reader.next(s)) break;
      } catch (const spectra::RecordError& e) {
        if (!record_error) throw;
        record_error(e);
        continue;
      }
      places.emplace_back(reader.record_path(), reader.record_line());
      measured.push_back(std::move(s));
      s = spectra::Spectrum{};
    }
  }
  const double reading = seconds_since(clock);
  Evaluation out = evaluate_spectra(measured, options);
  out.times.reading = reading;
  for (std::size_t i = 0; i < out.spectra.size(); ++i) {
    out.spectra[i].path = places[i].first;
    out.spectra[i].line = places[i].second;
  }
  return out;
}

}  // namespace tessarin::identify
