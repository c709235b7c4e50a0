#include "identify/library_search.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>

#include "core/errors.h"

namespace tessarin::identify {

void search_plausible_masses(const spectra::SpectralLibrary& library, std::span<const spectra::Spectrum> queries,
                             const spectra::SearchOptions& options, const spectra::MassEstimateOptions& estimate,
                             std::vector<QueryResult>& results, bool library_evidence) {
  options.check();
  estimate.check();
  results.resize(queries.size());
  // Estimates of the queries that can be estimated (with the library's evidence).
  std::vector<spectra::Spectrum> usable;
  std::vector<std::size_t> usable_at;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    try {
      (void)spectra::estimate_molecular_mass(queries[i], estimate);
      usable.push_back(queries[i]);
      usable_at.push_back(i);
    } catch (const InvalidInput& e) {
      results[i].error = std::string("no molecular mass can be estimated: ") + e.what();
    }
  }
  const std::vector<spectra::MassEstimate> estimates =
      spectra::estimate_molecular_masses(usable, estimate, library_evidence ? &library : nullptr, options.threads);

  // Rank r of every query's plausible masses searched together, the query
  // given that mass; every hit of the mass is taken, so that the first hits
  // across the masses do not depend on options.top.
  struct Found {
    spectra::Hit hit;
    HypothesisHit why;
  };
  std::vector<std::vector<Found>> found(usable.size());
  std::vector<UpperEnd> upper(usable.size());
  for (std::size_t k = 0; k < usable.size(); ++k) upper[k] = upper_end(usable[k]);
  spectra::SearchOptions window = options;
  window.mass_tolerance = 0.5;
  window.top = 0;
  for (std::size_t rank = 0;; ++rank) {
    std::vector<spectra::Spectrum> batch;
    std::vector<std::size_t> batch_at;
    for (std::size_t k = 0; k < usable.size(); ++k) {
      if (rank >= estimates[k].plausible.size()) continue;
      spectra::Spectrum q = usable[k];
      q.metadata.erase(spectra::keys::exact_mass);
      q.metadata.erase(spectra::keys::precursor_mz);
      q.metadata.set(spectra::keys::mol_mass, std::to_string(estimates[k].plausible[rank]));
      batch.push_back(std::move(q));
      batch_at.push_back(k);
    }
    if (batch.empty()) break;
    const std::vector<spectra::QueryHits> hits = library.search(batch, window);
    for (std::size_t b = 0; b < batch.size(); ++b) {
      const std::size_t k = batch_at[b];
      const MassPrior mass = plausible_masses(estimates[k]).at(rank);
      for (const spectra::Hit& h : hits[b].hits) {
        const spectra::Spectrum entry = library.entry(h.index - library.first_index());
        const HypothesisEvidence x =
            hypothesis_evidence(usable[k], upper[k], entry, options.similarity, h.score, mass, rank == 0);
        found[k].push_back({h, {mass, x, hypothesis_rank_score(x, library_evidence)}});
      }
    }
  }
  for (std::size_t k = 0; k < usable.size(); ++k) {
    std::vector<Found>& f = found[k];
    std::stable_sort(f.begin(), f.end(), [](const Found& x, const Found& y) {
      if (x.why.rank_score != y.why.rank_score) return x.why.rank_score > y.why.rank_score;
      return spectra::hit_before(x.hit, y.hit);
    });
    QueryResult& r = results[usable_at[k]];
    r.hits.clear();
    r.hit_hypotheses.clear();
    std::vector<std::size_t> seen;  // an entry within 0.5 of two masses is taken once, at its better rank
    for (const Found& x : f) {
      if (options.top > 0 && r.hits.size() >= options.top) break;
      if (std::find(seen.begin(), seen.end(), x.hit.index) != seen.end()) continue;
      seen.push_back(x.hit.index);
      r.hits.push_back(x.hit);
      r.hit_hypotheses.push_back(x.why);
    }
  }
}

QuerySearchSummary search_queries(const spectra::SpectralLibrary& library, const QuerySearch& search) {
  search.options.check();
  QuerySearchSummary summary;
  const auto cancelled = [&] { return search.cancel != nullptr && search.cancel->load(); };
  std::vector<spectra::Spectrum> spectra;
  std::vector<QueryResult> pending;
  const std::size_t batch = std::max<std::size_t>(search.batch, 1);
  const auto flush = [&] {
    std::vector<spectra::QueryHits> found(spectra.size());
    if (search.mass_hypotheses) {
      std::vector<QueryResult> across;
      search_plausible_masses(library, spectra, search.options, search.mass_estimate, across);
      for (std::size_t i = 0; i < pending.size(); ++i) {
        found[i] = {std::move(across[i].hits), std::move(across[i].error)};
        pending[i].hit_hypotheses = std::move(across[i].hit_hypotheses);
      }
    } else {
      found = library.search(spectra, search.options);
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
      pending[i].spectrum = std::move(spectra[i]);
      pending[i].hits = found[i].hits;
      pending[i].error = found[i].error;
      ++summary.queries;
      if (!pending[i].error.empty()) ++summary.failed_queries;
      if (search.result) search.result(pending[i]);
    }
    spectra.clear();
    pending.clear();
    if (search.after_batch) search.after_batch();
  };

  std::size_t read = 0;
  for (const std::string& path : search.queries) {
    spectra::SpectrumReader reader(path, search.query_format);
    spectra::Spectrum s;
    while (!cancelled()) {
      try {
        if (!reader.next(s)) break;
      } catch (const spectra::RecordError& e) {
        if (!search.record_error) throw;
        ++summary.refused_records;
        search.record_error(e);
        continue;
      }
      QueryResult q;
      q.query = read++;
      q.path = reader.record_path();
      q.line = reader.record_line();
      pending.push_back(std::move(q));
      spectra.push_back(std::move(s));
      s = spectra::Spectrum{};
      if (spectra.size() >= batch) flush();
    }
    if (cancelled()) break;
  }
  summary.cancelled = cancelled();
  if (!summary.cancelled && !spectra.empty()) flush();
  return summary;
}

}  // namespace tessarin::identify
