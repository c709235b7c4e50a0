// Library search: each query spectrum scored against every spectrum of a
// library, the best `top` kept.
//
// The hits are exactly those of scoring every library entry with
// similarity(query, entry, options.similarity): the entries that match at
// least one peak, score at least `min_score` and (when `mass_tolerance` is
// set) have a molecular mass within the tolerance of the query's, ordered
// by score (higher first) and then by library index (lower first), the
// first `top` of them. The search gets there faster with an inverted index
// of the library's peaks: for every entry that shares a peak with the query
// it sums the products of all candidate peak pairs, an upper bound of the
// greedy matching's sum, and scores an entry exactly only while that bound
// can still reach the current k-th hit. For the cosine and the dot product
// (not reverse) the lightest query peaks are left out of that sum once the
// hits found so far show that, by the Cauchy-Schwarz inequality, they alone
// cannot lift an entry to a hit; their largest possible share is added to
// every bound instead.
//
// A library split into shards (each given the index of its first entry in
// the whole library) gives, after merge_hits of the shards' hits, the hits of
// one search over the whole library: scores do not depend on the rest of the
// library, and equal scores are ordered by the whole library's index.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "spectra/reader.h"
#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::spectra {

struct SearchOptions {
  SimilarityOptions similarity;
  std::size_t top = 10;  // 0: every hit
  double min_score = 0;
  // When set: only library entries whose molecular mass (Spectrum::
  // molecular_mass) lies within this distance of the query's.
  std::optional<double> mass_tolerance;
  unsigned threads = 0;  // 0: one per core

  // Throws InvalidInput for options out of range.
  void check() const;
};

struct Hit {
  std::size_t index = 0;  // position in the whole library
  double score = 0;
  std::size_t matched = 0;
  bool operator==(const Hit&) const = default;
};

// Hit order: higher score first, then lower library index.
bool hit_before(const Hit& x, const Hit& y);

struct QueryHits {
  std::vector<Hit> hits;
  std::string error;  // why the query was not searched ("" when it was)
};

// The best `top` hits (0: all) of shards searched apart, as one search would give.
std::vector<Hit> merge_hits(std::span<const std::vector<Hit>> shard_hits, std::size_t top);

class SpectralLibrary {
 public:
  // An empty library whose first entry has index `first_index` in the whole
  // library (non-zero for a shard).
  explicit SpectralLibrary(std::size_t first_index = 0);
  ~SpectralLibrary();
  SpectralLibrary(SpectralLibrary&&) noexcept;
  SpectralLibrary& operator=(SpectralLibrary&&) noexcept;

  // Every record of a spectrum file (streamed: only the peaks and a few
  // metadata fields are kept). Malformed records go to `errors` when given,
  // else the first one is thrown.
  static SpectralLibrary read(const std::string& path, std::optional<Format> format = std::nullopt,
                              std::vector<RecordError>* errors = nullptr, std::size_t first_index = 0);

  // Adds a spectrum (its peaks and the metadata fields name, smiles,
  // formula, mol_mass, exact_mass, precursor_mz, accession, instrument).
  // Throws InvalidInput when the spectrum fails Spectrum::check. Not to be
  // called while a search runs.
  void add(const Spectrum& spectrum);

  std::size_t size() const { return offsets_.size() - 1; }
  std::size_t first_index() const { return first_index_; }
  std::size_t peak_count() const { return mz_.size(); }

  // Entry `i` of this library (0-based: the hit index minus first_index()).
  // Throws IndexOutOfRange.
  Spectrum entry(std::size_t i) const;
  const Metadata& metadata(std::size_t i) const;

  // The hits of each query, found by up to options.threads threads; the
  // result does not depend on the number of threads. A query that cannot be
  // searched (it fails Spectrum::check, or it has no molecular mass while a
  // mass tolerance is set) gets no hits and the reason in `error`. Throws
  // InvalidInput for options out of range.
  std::vector<QueryHits> search(std::span<const Spectrum> queries, const SearchOptions& options) const;

  // The same hits by scoring every entry, without the index (the reference
  // the search is held against).
  QueryHits search_exhaustive(const Spectrum& query, const SearchOptions& options) const;

 private:
  struct Index;
  struct Workspace;
  std::shared_ptr<const Index> index_for(double mz_power, double intensity_power) const;
  QueryHits search_one(const Spectrum& query, const SearchOptions& options, const Index& index, Workspace& ws) const;

  std::size_t first_index_ = 0;
  std::vector<double> mz_;
  std::vector<double> intensity_;
  std::vector<std::size_t> offsets_{0};
  std::vector<Metadata> metadata_;
  std::vector<double> mass_;  // NaN when unknown
  mutable std::unique_ptr<std::mutex> index_mutex_;
  mutable std::vector<std::shared_ptr<const Index>> indexes_;
};

}  // namespace tessarin::spectra
