#include "spectra/search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <thread>

#include "core/errors.h"

namespace tessarin::spectra {
namespace {

// Bounds are raised by this much before they are compared with scores, to
// cover the different order of the sums (the bound of an entry whose pairs
// are all matched equals its score up to rounding).
constexpr double kBoundSlack = 1e-9;

// The light peaks left out of a query may add at most this share of the
// cosine the k-th hit already reaches. Leaving out more saves postings but
// lets more entries through to exact scoring; a quarter was fastest on
// measured queries against 100,000 predicted or measured spectra.
constexpr double kLightShare = 0.25;

// Keys the library keeps of each entry's metadata.
constexpr std::string_view kKeptKeys[] = {keys::name,       keys::smiles,       keys::formula,   keys::mol_mass,
                                          keys::exact_mass, keys::precursor_mz, keys::accession, keys::instrument};

// The k best hits seen so far, the worst on top.
class TopHits {
 public:
  explicit TopHits(std::size_t k) : k_(k) {}
  bool full() const { return heap_.size() >= k_; }
  const Hit& worst() const { return heap_.front(); }
  void offer(const Hit& h) {
    if (k_ == 0) return;
    if (!full()) {
      heap_.push_back(h);
      std::push_heap(heap_.begin(), heap_.end(), hit_before);
    } else if (hit_before(h, heap_.front())) {
      std::pop_heap(heap_.begin(), heap_.end(), hit_before);
      heap_.back() = h;
      std::push_heap(heap_.begin(), heap_.end(), hit_before);
    }
  }
  std::vector<Hit> sorted() && {
    std::sort(heap_.begin(), heap_.end(), hit_before);
    return std::move(heap_);
  }

 private:
  std::size_t k_;
  std::vector<Hit> heap_;
};

// top 0 (every hit) as the number of entries, which no query can exceed.
SearchOptions every_hit_as_top(SearchOptions options, std::size_t entries) {
  if (options.top == 0) options.top = std::max<std::size_t>(entries, 1);
  return options;
}

}  // namespace

void SearchOptions::check() const {
  similarity.check();
  if (!std::isfinite(min_score)) throw InvalidInput("the minimum score must be a number");
  if (mass_tolerance && (!std::isfinite(*mass_tolerance) || *mass_tolerance < 0)) {
    throw InvalidInput("the mass tolerance must be a number >= 0");
  }
}

bool hit_before(const Hit& x, const Hit& y) {
  if (x.score != y.score) return x.score > y.score;
  return x.index < y.index;
}

std::vector<Hit> merge_hits(std::span<const std::vector<Hit>> shard_hits, std::size_t top) {
  std::vector<Hit> all;
  for (const std::vector<Hit>& hits : shard_hits) all.insert(all.end(), hits.begin(), hits.end());
  std::sort(all.begin(), all.end(), hit_before);
  if (top != 0 && all.size() > top) all.resize(top);
  return all;
}

// Weighted peaks of every entry for one pair of powers, and the inverted
// index: every peak of every entry by m/z, with its weight divided by the
// entry's norm; peaks of equal m/z form one run.
struct SpectralLibrary::Index {
  double mz_power = 0;
  double intensity_power = 0;
  std::vector<double> mz;
  std::vector<double> weight;
  std::vector<std::size_t> offsets;  // entry e: [offsets[e], offsets[e + 1])
  std::vector<double> norm2;
  std::vector<double> run_mz;            // distinct m/z, ascending
  std::vector<std::size_t> run_offsets;  // run r: postings [run_offsets[r], run_offsets[r + 1])
  std::vector<std::uint32_t> posting_entry;
  std::vector<double> posting_weight;  // weight / sqrt(norm2) of the entry
  std::vector<std::uint32_t> by_mass;  // entries with a known mass, by mass

  detail::PeakView view(std::size_t e) const {
    return {mz.data() + offsets[e], weight.data() + offsets[e], offsets[e + 1] - offsets[e], norm2[e]};
  }
};

// Per-thread buffers sized to the library.
struct SpectralLibrary::Workspace {
  // What the composite score and reverse search need per entry besides the
  // sum: the query peaks met (their number and squared weights), together so
  // that one posting touches one cache line.
  struct Shared {
    double query_norm2 = 0;
    std::uint32_t peaks = 0;
    std::uint32_t stamp = 0;  // 1 + the query peak that met the entry last
  };
  std::vector<double> bound;
  std::vector<Shared> shared;
  std::vector<char> touched_mark;
  std::vector<char> scored;
  std::vector<std::uint32_t> touched;
  std::vector<std::pair<double, std::uint32_t>> candidates;
  std::vector<std::uint32_t> order;
  detail::WeightedPeaks query;
  detail::ScoreWorkspace score;

  explicit Workspace(std::size_t n) : bound(n, 0), shared(n), touched_mark(n, 0), scored(n, 0) {}
};

SpectralLibrary::SpectralLibrary(std::size_t first_index)
    : first_index_(first_index), index_mutex_(std::make_unique<std::mutex>()) {}
SpectralLibrary::~SpectralLibrary() = default;
SpectralLibrary::SpectralLibrary(SpectralLibrary&&) noexcept = default;
SpectralLibrary& SpectralLibrary::operator=(SpectralLibrary&&) noexcept = default;

SpectralLibrary SpectralLibrary::read(const std::string& path, std::optional<Format> format,
                                      std::vector<RecordError>* errors, std::size_t first_index) {
  SpectralLibrary library(first_index);
  SpectrumReader reader(path, format);
  // Room for as many peaks as the file could hold (one per 4 bytes at most),
  // so that the peak arrays never move while they grow; pages never written
  // are never mapped.
  std::error_code ec;
  const std::uintmax_t bytes = std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
  if (!ec && bytes > 0) {
    const std::size_t room = static_cast<std::size_t>(std::min<std::uintmax_t>(bytes / 4, std::uintmax_t{1} << 27));
    library.mz_.reserve(room);
    library.intensity_.reserve(room);
  }
  Spectrum s;
  for (;;) {
    try {
      if (!reader.next(s)) break;
    } catch (const RecordError& e) {
      if (!errors) throw;
      errors->push_back(e);
      continue;
    }
    library.add(s);
  }
  return library;
}

void SpectralLibrary::add(const Spectrum& spectrum) {
  spectrum.check();
  if (size() >= std::numeric_limits<std::uint32_t>::max() - 1)
    throw InvalidInput("a library holds at most 2^32 - 2 spectra");
  mz_.insert(mz_.end(), spectrum.mz.begin(), spectrum.mz.end());
  intensity_.insert(intensity_.end(), spectrum.intensities.begin(), spectrum.intensities.end());
  offsets_.push_back(mz_.size());
  Metadata kept;
  for (std::string_view key : kKeptKeys) {
    if (const std::string* value = spectrum.metadata.find(key)) kept.set(key, *value);
  }
  metadata_.push_back(std::move(kept));
  const std::optional<double> mass = spectrum.molecular_mass();
  mass_.push_back(mass ? *mass : std::numeric_limits<double>::quiet_NaN());
  const std::lock_guard lock(*index_mutex_);
  indexes_.clear();
}

Spectrum SpectralLibrary::entry(std::size_t i) const {
  if (i >= size()) throw IndexOutOfRange("library entry " + std::to_string(i) + " of " + std::to_string(size()));
  Spectrum s;
  s.mz.assign(mz_.begin() + static_cast<std::ptrdiff_t>(offsets_[i]),
              mz_.begin() + static_cast<std::ptrdiff_t>(offsets_[i + 1]));
  s.intensities.assign(intensity_.begin() + static_cast<std::ptrdiff_t>(offsets_[i]),
                       intensity_.begin() + static_cast<std::ptrdiff_t>(offsets_[i + 1]));
  s.annotations.resize(s.mz.size());
  s.metadata = metadata_[i];
  return s;
}

const Metadata& SpectralLibrary::metadata(std::size_t i) const {
  if (i >= size()) throw IndexOutOfRange("library entry " + std::to_string(i) + " of " + std::to_string(size()));
  return metadata_[i];
}

std::shared_ptr<const SpectralLibrary::Index> SpectralLibrary::index_for(double mz_power,
                                                                         double intensity_power) const {
  const std::lock_guard lock(*index_mutex_);
  for (const auto& index : indexes_) {
    if (index->mz_power == mz_power && index->intensity_power == intensity_power) return index;
  }
  auto index = std::make_shared<Index>();
  index->mz_power = mz_power;
  index->intensity_power = intensity_power;
  const std::size_t n = size();
  index->offsets.reserve(n + 1);
  index->offsets.push_back(0);
  index->norm2.reserve(n);
  index->mz.reserve(mz_.size());
  index->weight.reserve(mz_.size());
  detail::WeightedPeaks w;
  for (std::size_t e = 0; e < n; ++e) {
    detail::weigh(mz_.data() + offsets_[e], intensity_.data() + offsets_[e], offsets_[e + 1] - offsets_[e], mz_power,
                  intensity_power, w);
    index->mz.insert(index->mz.end(), w.mz.begin(), w.mz.end());
    index->weight.insert(index->weight.end(), w.weight.begin(), w.weight.end());
    index->offsets.push_back(index->mz.size());
    index->norm2.push_back(w.norm2);
  }

  // Postings grouped by m/z with a counting sort; entries are visited in
  // order, so each run lists its entries in order.
  const std::size_t total = index->mz.size();
  index->run_mz = index->mz;
  std::sort(index->run_mz.begin(), index->run_mz.end());
  index->run_mz.erase(std::unique(index->run_mz.begin(), index->run_mz.end()), index->run_mz.end());
  std::vector<std::uint32_t> run_of(total);
  index->run_offsets.assign(index->run_mz.size() + 1, 0);
  for (std::size_t k = 0; k < total; ++k) {
    const auto r = std::lower_bound(index->run_mz.begin(), index->run_mz.end(), index->mz[k]) - index->run_mz.begin();
    run_of[k] = static_cast<std::uint32_t>(r);
    ++index->run_offsets[static_cast<std::size_t>(r) + 1];
  }
  for (std::size_t r = 1; r < index->run_offsets.size(); ++r) index->run_offsets[r] += index->run_offsets[r - 1];
  std::vector<std::size_t> next(index->run_offsets.begin(), index->run_offsets.end() - 1);
  index->posting_entry.resize(total);
  index->posting_weight.resize(total);
  for (std::size_t e = 0; e < n; ++e) {
    const double scale = 1.0 / std::sqrt(index->norm2[e]);
    for (std::size_t k = index->offsets[e]; k < index->offsets[e + 1]; ++k) {
      const std::size_t p = next[run_of[k]]++;
      index->posting_entry[p] = static_cast<std::uint32_t>(e);
      index->posting_weight[p] = index->weight[k] * scale;
    }
  }
  for (std::size_t e = 0; e < n; ++e) {
    if (!std::isnan(mass_[e])) index->by_mass.push_back(static_cast<std::uint32_t>(e));
  }
  std::sort(index->by_mass.begin(), index->by_mass.end(), [this](std::uint32_t x, std::uint32_t y) {
    if (mass_[x] != mass_[y]) return mass_[x] < mass_[y];
    return x < y;
  });
  indexes_.push_back(index);
  if (indexes_.size() > 4) indexes_.erase(indexes_.begin());
  return index;
}

QueryHits SpectralLibrary::search_one(const Spectrum& query, const SearchOptions& options, const Index& index,
                                      Workspace& ws) const {
  QueryHits result;
  try {
    query.check();
  } catch (const InvalidInput& e) {
    result.error = e.what();
    return result;
  }
  std::optional<double> query_mass;
  if (options.mass_tolerance) {
    query_mass = query.molecular_mass();
    if (!query_mass) {
      result.error = "the query has no molecular mass (mol_mass, exact_mass or precursor_mz) for the mass window";
      return result;
    }
  }
  const auto eligible = [&](std::size_t e) {
    return !query_mass || std::fabs(mass_[e] - *query_mass) <= *options.mass_tolerance;
  };
  detail::weigh(query.mz.data(), query.intensities.data(), query.size(), index.mz_power, index.intensity_power,
                ws.query);
  const detail::PeakView q = detail::view(ws.query);
  TopHits top(options.top);
  if (q.size == 0 || options.top == 0 || size() == 0) return result;
  // With the measured range, an entry is scored on its peaks within the
  // query's range; the postings still hold every peak, so an entry's sum
  // below is of all its peaks within the tolerance of the query's, at least
  // the sum of those in range, and its bound is raised by the ratio of its
  // whole norm to its norm in range.
  std::optional<std::pair<double, double>> range;
  if (options.similarity.measured_range) range = measured_mz_range(query);
  const auto entry_view = [&](std::size_t e) {
    return range ? detail::crop(index.view(e), range->first, range->second) : index.view(e);
  };

  const auto score_entry = [&](std::size_t e) {
    std::size_t matched = 0;
    const double s = detail::score_weighted(q, entry_view(e), options.similarity, ws.score, matched);
    if (matched > 0 && s >= options.min_score) top.offer({first_index_ + e, s, matched});
  };

  // A narrow mass window: score the few entries in it directly.
  if (query_mass) {
    const auto lo = std::partition_point(index.by_mass.begin(), index.by_mass.end(),
                                         [&](std::uint32_t e) { return mass_[e] < *query_mass && !eligible(e); });
    auto hi = lo;
    while (hi != index.by_mass.end() && (mass_[*hi] <= *query_mass || eligible(*hi))) ++hi;
    const auto count = static_cast<std::size_t>(hi - lo);
    if (count * 16 <= size()) {
      for (auto it = lo; it != hi; ++it) {
        if (eligible(*it)) score_entry(*it);
      }
      result.hits = std::move(top).sorted();
      return result;
    }
  }

  const SimilarityOptions& so = options.similarity;
  const bool per_peak = so.reverse || so.method == ScoreMethod::composite;
  const double tol = so.tolerance;
  const std::vector<double>& run_mz = index.run_mz;
  const std::uint32_t* entries = index.posting_entry.data();
  const double* weights = index.posting_weight.data();
  double* sums = ws.bound.data();
  Workspace::Shared* shared = ws.shared.data();
  ws.touched.clear();
  // Adds query peak i's products with every library peak within the
  // tolerance to the sums of their entries.
  const auto accumulate = [&](std::size_t i) {
    const double x = q.mz[i];
    const double wq = q.weight[i];
    auto r = static_cast<std::size_t>(std::lower_bound(run_mz.begin(), run_mz.end(), x - tol) - run_mz.begin());
    while (r > 0 && std::fabs(x - run_mz[r - 1]) <= tol) --r;
    for (; r < run_mz.size(); ++r) {
      if (!(std::fabs(x - run_mz[r]) <= tol)) {
        if (run_mz[r] > x) break;
        continue;
      }
      const std::size_t end = index.run_offsets[r + 1];
      if (!per_peak) {
        for (std::size_t k = index.run_offsets[r]; k < end; ++k) {
          const std::uint32_t e = entries[k];
          // A product that underflows to zero may list an entry twice; the
          // bounds below take each entry once.
          if (sums[e] == 0) ws.touched.push_back(e);
          sums[e] += wq * weights[k];
        }
        continue;
      }
      for (std::size_t k = index.run_offsets[r]; k < end; ++k) {
        const std::uint32_t e = entries[k];
        if (sums[e] == 0) ws.touched.push_back(e);
        sums[e] += wq * weights[k];
        Workspace::Shared& met = shared[e];
        if (met.stamp != i + 1) {  // first library peak of e within the tolerance of i
          met.stamp = static_cast<std::uint32_t>(i + 1);
          met.peaks += 1;
          met.query_norm2 += wq * wq;
        }
      }
    }
  };

  // Query peaks from the heaviest down. For the cosine and the dot product
  // the lightest peaks need no postings once some hits are known: with W the
  // set of peaks left out, the matched pairs of W add at most
  //   sum_W w_q w_L / (|q| |L|) <= sqrt(sum_W w_q^2) / |q| = beta
  // to any entry's cosine (Cauchy-Schwarz; each library peak matches once),
  // so an entry met by no other peak cannot reach a hit scoring above beta,
  // and every other entry's bound is its sum plus beta.
  ws.order.resize(q.size);
  for (std::size_t i = 0; i < q.size; ++i) ws.order[i] = static_cast<std::uint32_t>(i);
  std::sort(ws.order.begin(), ws.order.end(), [&](std::uint32_t x, std::uint32_t y) {
    if (q.weight[x] != q.weight[y]) return q.weight[x] > q.weight[y];
    return x < y;
  });
  const bool prunable = !so.reverse && so.method != ScoreMethod::composite;
  const std::size_t seed_peaks = prunable ? std::min<std::size_t>(q.size, 3) : q.size;
  for (std::size_t t = 0; t < seed_peaks; ++t) accumulate(ws.order[t]);
  std::size_t strong_end = q.size;
  double beta = 0;
  ws.candidates.clear();
  if (prunable && seed_peaks < q.size) {
    // Exact scores of the entries that share most with the heaviest peaks
    // give a score the k-th hit will at least reach.
    for (const std::uint32_t e : ws.touched) {
      if (!ws.touched_mark[e]) {
        ws.touched_mark[e] = 1;
        ws.candidates.emplace_back(sums[e], e);
      }
    }
    for (const std::uint32_t e : ws.touched) ws.touched_mark[e] = 0;
    const std::size_t seeds = std::min(ws.candidates.size(), std::max<std::size_t>(16, 2 * options.top));
    const auto by_sum = [](const auto& x, const auto& y) {
      if (x.first != y.first) return x.first > y.first;
      return x.second < y.second;
    };
    if (seeds > 0 && seeds < ws.candidates.size()) {
      std::nth_element(ws.candidates.begin(), ws.candidates.begin() + static_cast<std::ptrdiff_t>(seeds - 1),
                       ws.candidates.end(), by_sum);
    }
    for (std::size_t c = 0; c < seeds; ++c) {
      const std::uint32_t e = ws.candidates[c].second;
      ws.scored[e] = 1;
      if (eligible(e)) score_entry(e);
    }
    ws.candidates.clear();
    // The cosine an entry must beat: the k-th hit's, and the minimum score.
    double floor_score = std::max(options.min_score, top.full() ? top.worst().score : 0.0);
    double floor_cosine = so.method == ScoreMethod::dot_product ? std::sqrt(std::max(0.0, floor_score)) : floor_score;
    floor_cosine = floor_cosine * (1 - kBoundSlack) - 1e-12;
    double light = 0;
    const double norm2 = q.norm2;
    while (strong_end > seed_peaks) {
      const double w = q.weight[ws.order[strong_end - 1]];
      const double next = light + w * w;
      if (!(std::sqrt(next / norm2) < kLightShare * floor_cosine)) break;
      light = next;
      --strong_end;
    }
    beta = std::sqrt(light / norm2);
  }
  for (std::size_t t = seed_peaks; t < strong_end; ++t) accumulate(ws.order[t]);

  // Upper bounds of the exact scores.
  const double query_norm = std::sqrt(q.norm2);
  for (const std::uint32_t e : ws.touched) {
    if (ws.touched_mark[e]) continue;
    ws.touched_mark[e] = 1;
    const double sum = ws.bound[e];
    const double met = ws.shared[e].peaks;
    const double qn2 = ws.shared[e].query_norm2;
    ws.bound[e] = 0;
    ws.shared[e] = {};
    if (ws.scored[e]) {
      ws.scored[e] = 0;
      continue;
    }
    if (!eligible(e)) continue;
    const double norm = so.reverse ? std::sqrt(qn2) : query_norm;
    double scale = 1;
    if (range) {
      const double in_range = entry_view(e).norm2;
      if (!(in_range > 0)) continue;
      scale = std::sqrt(index.norm2[e] / in_range);
    }
    double cosine = norm > 0 ? sum * scale / norm + beta : 0;
    // Reverse: the query peaks met may include some met only by peaks out of
    // range, whose weight the exact score leaves out of the query's norm.
    if (range && so.reverse) cosine = 1;
    cosine = std::min(1.0, cosine * (1 + kBoundSlack));
    double bound = cosine;
    if (so.method == ScoreMethod::dot_product) bound = cosine * cosine;
    if (so.method == ScoreMethod::composite) {
      const double n_u = so.reverse ? met : static_cast<double>(q.size);
      const double n_lu = std::min(met, static_cast<double>(index.offsets[e + 1] - index.offsets[e]));
      bound = (n_u * cosine * cosine + n_lu - 1) / (n_u + n_lu);
    }
    bound = bound * (1 + kBoundSlack) + 1e-12;
    if (bound < options.min_score) continue;
    ws.candidates.emplace_back(bound, e);
  }

  for (const std::uint32_t e : ws.touched) ws.touched_mark[e] = 0;

  // Exact scores in order of falling bound, until no bound can reach the k-th hit.
  const auto by_bound = [](const auto& x, const auto& y) {
    if (x.first != y.first) return x.first > y.first;
    return x.second < y.second;
  };
  auto begin = ws.candidates.begin();
  const auto end = ws.candidates.end();
  // Chunks of the best bounds, doubling, so that selecting them stays linear
  // in the number of candidates however many must be scored.
  std::size_t chunk = std::max<std::size_t>(64, 4 * options.top);
  for (; begin != end; chunk *= 2) {
    const auto chunk_end =
        end - begin > static_cast<std::ptrdiff_t>(chunk) ? begin + static_cast<std::ptrdiff_t>(chunk) : end;
    std::nth_element(begin, chunk_end - 1, end, by_bound);
    std::sort(begin, chunk_end, by_bound);
    for (auto it = begin; it != chunk_end; ++it) {
      if (top.full() && it->first < top.worst().score) {
        result.hits = std::move(top).sorted();
        return result;
      }
      score_entry(it->second);
    }
    begin = chunk_end;
  }
  result.hits = std::move(top).sorted();
  return result;
}

std::vector<QueryHits> SpectralLibrary::search(std::span<const Spectrum> queries, const SearchOptions& asked) const {
  asked.check();
  const SearchOptions options = every_hit_as_top(asked, size());
  std::vector<QueryHits> results(queries.size());
  if (queries.empty()) return results;
  const std::shared_ptr<const Index> index =
      index_for(options.similarity.mz_power_or_default(), options.similarity.intensity_power_or_default());
  unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, queries.size()));
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failure_mutex;
  const auto work = [&] {
    try {
      Workspace ws(size());
      for (std::size_t i = next++; i < queries.size(); i = next++) {
        results[i] = search_one(queries[i], options, *index, ws);
      }
    } catch (...) {
      next = queries.size();  // the others stop too
      const std::lock_guard lock(failure_mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  if (threads <= 1) {
    work();
  } else {
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
  }
  if (failure) std::rethrow_exception(failure);
  return results;
}

QueryHits SpectralLibrary::search_exhaustive(const Spectrum& query, const SearchOptions& asked) const {
  asked.check();
  const SearchOptions options = every_hit_as_top(asked, size());
  QueryHits result;
  try {
    query.check();
  } catch (const InvalidInput& e) {
    result.error = e.what();
    return result;
  }
  std::optional<double> query_mass;
  if (options.mass_tolerance) {
    query_mass = query.molecular_mass();
    if (!query_mass) {
      result.error = "the query has no molecular mass (mol_mass, exact_mass or precursor_mz) for the mass window";
      return result;
    }
  }
  TopHits top(options.top);
  for (std::size_t e = 0; e < size(); ++e) {
    if (query_mass && !(std::fabs(mass_[e] - *query_mass) <= *options.mass_tolerance)) continue;
    const Similarity s = similarity(query, entry(e), options.similarity);
    if (s.matched > 0 && s.score >= options.min_score) top.offer({first_index_ + e, s.score, s.matched});
  }
  result.hits = std::move(top).sorted();
  return result;
}

}  // namespace tessarin::spectra
