// Searching the query spectra of files against a spectral library: the
// driver behind the command line's `search` and Python's search_library.
// The hits are SpectralLibrary::search's (equal to scoring every entry).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "identify/mass_prior.h"
#include "spectra/molecular_mass.h"
#include "spectra/reader.h"
#include "spectra/search.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

// How a hit found among mass hypotheses was ranked: the hypothesis it came
// from, the evidence and its hypothesis_rank_score.
struct HypothesisHit {
  MassPrior mass;
  HypothesisEvidence evidence{};
  double rank_score = 0;
};

// One query's place and result.
struct QueryResult {
  std::size_t query = 0;  // 0-based, over the records of all query files
  std::string path;       // file and first line of the record
  std::size_t line = 0;
  spectra::Spectrum spectrum;
  std::vector<spectra::Hit> hits;
  std::string error;  // why the query was not searched ("" when it was)
  // With mass hypotheses (QuerySearch::mass_hypotheses): how each hit was
  // ranked, one per hit.
  std::vector<HypothesisHit> hit_hypotheses;
};

// Each query searched among the library entries of each of its plausible
// molecular masses (spectra::estimate_molecular_masses with the library as
// evidence, unless library_evidence is false: every query is searched
// against the whole library once for it), the entries within 0.5 of the mass
// (options.mass_tolerance is not used). Every hit of all its masses is
// ranked by hypothesis_rank_score, higher first (then by score, then by
// library index), the first options.top of them kept (0: all);
// options.min_score applies to the score. A query whose mass cannot be
// estimated (no peak of positive intensity) gets the reason in `error`.
// Fills hits, hit_hypotheses and error of `results` (one per query).
void search_plausible_masses(const spectra::SpectralLibrary& library, std::span<const spectra::Spectrum> queries,
                             const spectra::SearchOptions& options, const spectra::MassEstimateOptions& estimate,
                             std::vector<QueryResult>& results, bool library_evidence = true);

using RecordErrorSink = std::function<void(const spectra::RecordError&)>;

struct QuerySearch {
  std::vector<std::string> queries;             // files (or MassBank directories), read one after the other
  std::optional<spectra::Format> query_format;  // default: by extension or content
  spectra::SearchOptions options;               // score, top, threads, ...
  // Search among the entries of each query's plausible molecular masses
  // (search_plausible_masses) rather than the whole library.
  bool mass_hypotheses = false;
  spectra::MassEstimateOptions mass_estimate;
  std::size_t batch = 2048;  // queries searched together
  // Every query, in the order read (calling thread).
  std::function<void(const QueryResult&)> result;
  // Malformed query records; the run goes on. Without it the first one is thrown.
  RecordErrorSink record_error;
  // Checked before each record is read; `after_batch` runs on the calling
  // thread after each batch (a host may set `cancel` there).
  std::atomic<bool>* cancel = nullptr;
  std::function<void()> after_batch;
};

struct QuerySearchSummary {
  std::size_t queries = 0;          // queries read and searched or refused
  std::size_t failed_queries = 0;   // of those, refused (QueryResult::error)
  std::size_t refused_records = 0;  // malformed query records
  bool cancelled = false;           // stopped: the queries of the last batch were not searched
};

// Throws InvalidInput for options out of range or a file that cannot be
// opened or whose format cannot be told, std::runtime_error when reading fails.
QuerySearchSummary search_queries(const spectra::SpectralLibrary& library, const QuerySearch& search);

}  // namespace tessarin::identify
