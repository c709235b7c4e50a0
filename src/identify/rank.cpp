#include "identify/rank.h"

#include <algorithm>
#include <cmath>

#include "core/element_data.h"
#include "core/errors.h"

namespace tessarin::identify {

void CandidateFilter::check() const {
  if (formula) (void)formula_counts(*formula);
}

bool CandidateFilter::keeps(const Composition& c) const {
  if (nominal_mass && c.nominal_mass != *nominal_mass) return false;
  return !formula || formula_counts(c.formula) == formula_counts(*formula);
}

namespace {

// The nominal mass of a molecular formula: each element at its most common
// isotope, a labelled one ("[13C]", D, T) at its mass number.
std::optional<int> formula_nominal_mass(const std::string& formula) {
  long long total = 0;
  try {
    for (const auto& [symbol, count] : formula_counts(formula)) {
      int mass = 0;
      if (symbol.front() == '[') {
        mass = std::stoi(symbol.substr(1));
      } else if (symbol == "D" || symbol == "T") {
        mass = symbol == "D" ? 2 : 3;
      } else {
        mass = core::nominal_atom_mass(core::element_by_symbol(symbol).atomic_number);
      }
      total += mass * count;
      if (total > 1'000'000'000) return std::nullopt;
    }
  } catch (const std::exception&) {
    return std::nullopt;  // not a formula of elements
  }
  if (total <= 0) return std::nullopt;
  return static_cast<int>(total);
}

}  // namespace

std::optional<int> molecular_ion_mass(const spectra::Spectrum& spectrum) {
  const std::optional<double> mass = spectrum.molecular_mass();
  if (mass && *mass > 0 && *mass <= 1e9) return static_cast<int>(std::lround(*mass));
  return formula_nominal_mass(spectrum.metadata.get(spectra::keys::formula));
}

Ranking rank_candidates(const spectra::Spectrum& measured, const MoleculeSource& read, const RankOptions& options) {
  measured.check();
  options.score.check();
  options.filter.check();
  options.run.check();
  const spectra::SimilarityOptions score = options.score;
  Ranking ranking;
  const std::vector<MassPrior>& masses = options.mass_hypotheses;
  const auto hypothesis_of = [&masses](int nominal_mass) -> const MassPrior* {
    for (const MassPrior& m : masses) {
      if (m.mass == nominal_mass) return &m;
    }
    return nullptr;
  };
  CompositionFilter keep;
  if (options.filter.active() || !masses.empty()) {
    keep = [&](const Composition& c) {
      return options.filter.keeps(c) && (masses.empty() || hypothesis_of(c.nominal_mass) != nullptr);
    };
  }
  const UpperEnd upper = masses.empty() ? UpperEnd{} : upper_end(measured);
  std::size_t position = 0;
  const run::BatchSummary summary = predict_spectra(
      read, options.run,
      [&](run::Outcome& o) {
        const std::size_t here = position++;
        if (!o.error.empty()) {
          ranking.failed.push_back({here, o.input.line, o.input.name, o.input.smiles, o.error});
          return;
        }
        if (!o.spectrum) {
          ++ranking.filtered_out;
          return;
        }
        RankedCandidate row;
        const spectra::Similarity s = spectra::similarity(measured, *o.spectrum, score);
        row.score = s.score;
        row.matched = s.matched;
        row.position = here;
        row.line = o.input.line;
        row.name = o.input.name;
        row.smiles = o.input.smiles;
        row.formula = o.spectrum->metadata.get(spectra::keys::formula);
        row.rank_score = row.score;
        if (!masses.empty()) {
          const std::optional<double> mass = o.spectrum->molecular_mass();
          const MassPrior* h = mass ? hypothesis_of(static_cast<int>(std::lround(*mass))) : nullptr;
          if (h) {
            row.mass = *h;
            row.evidence =
                hypothesis_evidence(measured, upper, *o.spectrum, score, row.score, *h, h == &masses.front());
            row.rank_score = hypothesis_rank_score(row.evidence, options.masses_from_library);
          }
        }
        row.predicted = std::move(*o.spectrum);
        ranking.rows.push_back(std::move(row));
      },
      keep);
  ranking.cancelled = summary.cancelled;
  std::stable_sort(ranking.rows.begin(), ranking.rows.end(),
                   [](const RankedCandidate& a, const RankedCandidate& b) { return a.rank_score > b.rank_score; });
  for (std::size_t i = 0; i < ranking.rows.size(); ++i) {
    const bool tied = i > 0 && ranking.rows[i].rank_score == ranking.rows[i - 1].rank_score;
    ranking.rows[i].rank = tied ? ranking.rows[i - 1].rank : i + 1;
  }
  return ranking;
}

std::vector<MassPrior> searched_masses(const spectra::Spectrum& measured) {
  spectra::MassEstimateOptions options;
  options.max_hypotheses = kSearchedMasses;
  options.min_score = 0;
  std::vector<MassPrior> out;
  for (const spectra::MassHypothesis& h : spectra::estimate_molecular_mass(measured, options).hypotheses) {
    out.push_back({h.mass, h.score});
  }
  return out;
}

std::vector<MassPrior> candidates_across_masses(const spectra::Spectrum& measured, Ranking& ranking,
                                                const spectra::MassEstimateOptions& estimate) {
  estimate.check();
  // The predictions as a library, and the masses they have.
  spectra::SpectralLibrary library;
  std::vector<int> with_rows;
  for (const RankedCandidate& r : ranking.rows) {
    library.add(r.predicted);
    if (const std::optional<double> m = r.predicted.molecular_mass())
      with_rows.push_back(static_cast<int>(std::lround(*m)));
  }
  std::sort(with_rows.begin(), with_rows.end());
  with_rows.erase(std::unique(with_rows.begin(), with_rows.end()), with_rows.end());
  spectra::MassEstimateOptions every = estimate;
  every.max_hypotheses = 1000;  // every candidate mass of the estimate, to renormalise over those with rows
  every.min_score = 0;
  const spectra::LibraryMassEvidence evidence = spectra::library_mass_evidence(library, {&measured, 1}, 1).at(0);
  const spectra::MassEstimate all = spectra::estimate_molecular_mass(measured, every, &evidence);
  std::vector<MassPrior> kept;  // best first
  double total = 0;
  for (const spectra::MassHypothesis& h : all.hypotheses) {
    if (!std::binary_search(with_rows.begin(), with_rows.end(), h.mass)) continue;
    kept.push_back({h.mass, h.score});
    total += h.score;
  }
  std::vector<MassPrior> plausible;
  for (MassPrior& m : kept) {
    m.score = total > 0 ? m.score / total : 0.0;
    if (plausible.size() >= estimate.max_plausible) break;
    if (!plausible.empty() && m.score < estimate.plausible_ratio * plausible.front().score) break;
    plausible.push_back(m);
  }
  std::vector<RankedCandidate> rows;
  for (RankedCandidate& r : ranking.rows) {
    const std::optional<double> m = r.predicted.molecular_mass();
    const auto h = std::find_if(plausible.begin(), plausible.end(),
                                [&](const MassPrior& p) { return m && p.mass == static_cast<int>(std::lround(*m)); });
    if (h == plausible.end()) {
      ++ranking.filtered_out;
      continue;
    }
    r.mass = *h;
    r.evidence = with_hypothesis(r.evidence, *h, h == plausible.begin());
    r.rank_score = hypothesis_rank_score(r.evidence, true);
    rows.push_back(std::move(r));
  }
  std::sort(rows.begin(), rows.end(), [](const RankedCandidate& a, const RankedCandidate& b) {
    if (a.rank_score != b.rank_score) return a.rank_score > b.rank_score;
    return a.position < b.position;
  });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool tied = i > 0 && rows[i].rank_score == rows[i - 1].rank_score;
    rows[i].rank = tied ? rows[i - 1].rank : i + 1;
  }
  ranking.rows = std::move(rows);
  return plausible;
}

}  // namespace tessarin::identify
