// Library search against the plain scoring of every entry.
#include <gtest/gtest.h>

#include <random>

#include "core/errors.h"
#include "spectra/search.h"
#include "spectra_test_support.h"

namespace tessarin::spectra {
namespace {

// The hits by definition: similarity() with every entry, sorted, cut.
std::vector<Hit> reference_hits(const Spectrum& query, const std::vector<Spectrum>& library, const SearchOptions& o,
                                std::size_t first_index = 0) {
  std::vector<Hit> hits;
  const std::optional<double> qm = query.molecular_mass();
  for (std::size_t e = 0; e < library.size(); ++e) {
    if (o.mass_tolerance) {
      const std::optional<double> m = library[e].molecular_mass();
      if (!m || std::fabs(*m - *qm) > *o.mass_tolerance) continue;
    }
    const Similarity s = similarity(query, library[e], o.similarity);
    if (s.matched > 0 && s.score >= o.min_score) hits.push_back({first_index + e, s.score, s.matched});
  }
  std::sort(hits.begin(), hits.end(), hit_before);
  if (hits.size() > o.top) hits.resize(o.top);
  return hits;
}

// A library whose spectra share many peaks (perturbed copies of a few
// parents, some exact duplicates), so that bounds, ties and pruning matter.
std::vector<Spectrum> related_spectra(std::mt19937& rng, std::size_t n, bool integer) {
  std::vector<Spectrum> parents;
  for (int p = 0; p < 12; ++p) parents.push_back(testing::random_spectrum(rng, 5 + rng() % 30, integer));
  std::vector<Spectrum> out;
  for (std::size_t k = 0; k < n; ++k) {
    Spectrum s = parents[rng() % parents.size()];
    if (k % 7 != 0) {
      std::vector<double> mz;
      std::vector<double> in;
      for (std::size_t i = 0; i < s.size(); ++i) {
        if (rng() % 5 == 0) continue;
        mz.push_back(integer ? s.mz[i] : s.mz[i] + std::uniform_real_distribution<double>(-0.3, 0.3)(rng));
        in.push_back(s.intensities[i] * std::uniform_real_distribution<double>(0.5, 1.5)(rng));
      }
      if (rng() % 3 == 0) {
        mz.push_back(std::floor(std::uniform_real_distribution<double>(12, 300)(rng)));
        in.push_back(50);
      }
      s = Spectrum::from_peaks(std::move(mz), std::move(in));
    }
    s.metadata.set(keys::name, "entry " + std::to_string(k));
    s.metadata.set(keys::mol_mass, std::to_string(100 + rng() % 20));
    out.push_back(std::move(s));
  }
  return out;
}

TEST(LibrarySearch, HitsEqualScoringEveryEntryForEveryMethodAndOption) {
  std::mt19937 rng(5);
  for (const bool integer : {true, false}) {
    const std::vector<Spectrum> spectra = related_spectra(rng, 400, integer);
    SpectralLibrary library;
    for (const Spectrum& s : spectra) library.add(s);
    std::vector<Spectrum> queries(spectra.begin(), spectra.begin() + 10);
    for (int k = 0; k < 10; ++k) queries.push_back(related_spectra(rng, 1, integer)[0]);
    queries.push_back(Spectrum::from_peaks({}, {}, {}, {{"mol_mass", "110"}}));

    int variant = 0;
    for (ScoreMethod method : {ScoreMethod::cosine, ScoreMethod::dot_product, ScoreMethod::composite}) {
      for (const bool reverse : {false, true}) {
        SearchOptions o;
        o.similarity.method = method;
        o.similarity.reverse = reverse;
        o.similarity.tolerance = integer ? 0.5 : 0.2 + 0.1 * (variant % 3);
        if (variant % 2) o.similarity.intensity_power = 0.5;
        o.top = variant % 3 == 0 ? 1 : 7;
        o.min_score = variant % 4 == 3 ? 0.6 : 0.0;
        if (variant % 5 == 2) o.mass_tolerance = variant % 2 ? 3.0 : 0.0;  // the index, or the entries of one mass
        ++variant;
        for (unsigned threads : {1u, 2u}) {
          o.threads = threads;
          const std::vector<QueryHits> results = library.search(queries, o);
          ASSERT_EQ(results.size(), queries.size());
          for (std::size_t q = 0; q < queries.size(); ++q) {
            EXPECT_TRUE(results[q].error.empty()) << results[q].error;
            EXPECT_EQ(results[q].hits, reference_hits(queries[q], spectra, o))
                << "method " << method_name(method) << " reverse " << reverse << " query " << q;
          }
        }
        EXPECT_EQ(library.search_exhaustive(queries[3], o).hits, reference_hits(queries[3], spectra, o));
      }
    }
  }
}

// The peaks of `s` within [low, high].
Spectrum peaks_within(const Spectrum& s, double low, double high) {
  std::vector<double> mz;
  std::vector<double> in;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.mz[i] >= low && s.mz[i] <= high) {
      mz.push_back(s.mz[i]);
      in.push_back(s.intensities[i]);
    }
  }
  Spectrum out = Spectrum::from_peaks(std::move(mz), std::move(in));
  out.metadata = s.metadata;
  return out;
}

TEST(MeasuredRange, ReferencePeaksOutsideTheQuerysRangeAreLeftOutOfScoreAndSearch) {
  // A query scanned from m/z 40 scores 1 against a prediction that matches it
  // there and has its base peak at m/z 28; the whole prediction scores less.
  const Spectrum measured = Spectrum::from_peaks({41, 43, 58}, {30, 100, 20});
  const Spectrum predicted = Spectrum::from_peaks({15, 28, 41, 43, 58, 59}, {10, 300, 30, 100, 20, 0});
  SimilarityOptions o;
  EXPECT_LT(similarity(measured, predicted, o).score, 0.6);
  o.measured_range = true;
  const Similarity in_range = similarity(measured, predicted, o);
  EXPECT_NEAR(in_range.score, 1.0, 1e-12);
  EXPECT_EQ(in_range.pairs, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}, {1, 3}, {2, 4}}));
  // A declared scan range counts instead of the peaks' (m/z 10 up: the peak at 28 counts again).
  Spectrum declared = measured;
  declared.metadata.set(keys::scan_range, "10-300");
  EXPECT_NEAR(similarity(declared, predicted, o).score, similarity(measured, predicted, SimilarityOptions{}).score,
              1e-12);

  // The search's hits are those of scoring every entry cropped to each
  // query's range, for every method, reverse or not: the bounds that prune it
  // hold for the cropped entries.
  std::mt19937 rng(17);
  const std::vector<Spectrum> spectra = related_spectra(rng, 300, true);
  SpectralLibrary library;
  for (const Spectrum& s : spectra) library.add(s);
  std::vector<Spectrum> queries;
  for (int k = 0; k < 12; ++k) {
    const double low = 20 + 10 * (k % 5);
    queries.push_back(peaks_within(spectra[static_cast<std::size_t>(7 * k)], low, low + 80 + 20 * (k % 3)));
  }
  queries.push_back(peaks_within(related_spectra(rng, 1, true)[0], 60, 400));
  for (ScoreMethod method : {ScoreMethod::cosine, ScoreMethod::dot_product, ScoreMethod::composite}) {
    for (const bool reverse : {false, true}) {
      SearchOptions so;
      so.similarity.method = method;
      so.similarity.reverse = reverse;
      so.similarity.intensity_power = 0.5;
      so.similarity.measured_range = true;
      so.top = 5;
      so.threads = 2;
      const std::vector<QueryHits> results = library.search(queries, so);
      SearchOptions whole = so;
      whole.similarity.measured_range = false;
      for (std::size_t q = 0; q < queries.size(); ++q) {
        if (queries[q].size() == 0) continue;
        const auto range = measured_mz_range(queries[q]);
        ASSERT_TRUE(range.has_value());
        std::vector<Spectrum> cropped;
        for (const Spectrum& s : spectra) cropped.push_back(peaks_within(s, range->first, range->second));
        // Scores of entries cropped before weighing differ in the last bits,
        // which may reorder equal scores: the scores are compared.
        const std::vector<Hit> expected = reference_hits(queries[q], cropped, whole);
        ASSERT_EQ(results[q].hits.size(), expected.size()) << q;
        for (std::size_t k = 0; k < expected.size(); ++k) {
          EXPECT_NEAR(results[q].hits[k].score, expected[k].score, 1e-12)
              << "method " << method_name(method) << " reverse " << reverse << " query " << q;
        }
        EXPECT_EQ(results[q].hits, library.search_exhaustive(queries[q], so).hits) << q;
      }
    }
  }
}

TEST(LibrarySearch, EntryMatchingOnlyTheLightPeaksOfAQueryIsFound) {
  // Query: three heavy peaks (weight 1) and forty light ones (0.2); |q|^2 = 4.6.
  // Fifty entries share one heavy peak: cosine 1/sqrt(4.6) = 0.466. The last
  // entry has all the light peaks and none of the heavy ones:
  // 40 * 0.2 / (sqrt(4.6) * sqrt(40)) = 0.590, the best hit.
  std::vector<double> mz{200, 201, 202};
  std::vector<double> in{100, 100, 100};
  std::vector<double> light_mz;
  for (int m = 20; m < 60; ++m) light_mz.push_back(m);
  mz.insert(mz.end(), light_mz.begin(), light_mz.end());
  in.resize(mz.size(), 20);
  const Spectrum query = Spectrum::from_peaks(mz, in);
  SpectralLibrary library;
  for (int k = 0; k < 50; ++k) library.add(Spectrum::from_peaks({200}, {1}));
  library.add(Spectrum::from_peaks(light_mz, std::vector<double>(light_mz.size(), 7)));
  SearchOptions o;
  o.top = 1;
  o.similarity.intensity_power = 1;  // the plain cosine of the figures above
  const std::vector<QueryHits> r = library.search(std::vector<Spectrum>{query}, o);
  ASSERT_EQ(r[0].hits.size(), 1u);
  EXPECT_EQ(r[0].hits[0].index, 50u);
  EXPECT_NEAR(r[0].hits[0].score, 8 / std::sqrt(4.6 * 40), 1e-12);
}

TEST(LibrarySearch, ShardsMergeToTheWholeLibrarysHits) {
  std::mt19937 rng(9);
  const std::vector<Spectrum> spectra = related_spectra(rng, 300, true);
  SearchOptions o;
  o.top = 5;
  o.threads = 2;
  SpectralLibrary whole;
  for (const Spectrum& s : spectra) whole.add(s);
  const std::size_t cuts[] = {0, 70, 71, 220, 300};
  std::vector<SpectralLibrary> shards;
  for (int k = 0; k < 4; ++k) {
    shards.emplace_back(cuts[k]);
    for (std::size_t e = cuts[k]; e < cuts[k + 1]; ++e) shards.back().add(spectra[e]);
  }
  const std::vector<Spectrum> queries(spectra.begin() + 100, spectra.begin() + 130);
  const std::vector<QueryHits> expected = whole.search(queries, o);
  std::vector<std::vector<QueryHits>> per_shard;
  for (const SpectralLibrary& shard : shards) per_shard.push_back(shard.search(queries, o));
  for (std::size_t q = 0; q < queries.size(); ++q) {
    std::vector<std::vector<Hit>> parts;
    for (const auto& r : per_shard) parts.push_back(r[q].hits);
    EXPECT_EQ(merge_hits(parts, o.top), expected[q].hits) << q;
  }
  // Exact duplicates tie and keep the whole library's order.
  EXPECT_EQ(whole.entry(70).mz, spectra[70].mz);
  EXPECT_EQ(shards[2].metadata(0).get(keys::name), "entry 71");
}

TEST(LibrarySearch, QueriesThatCannotBeSearchedSayWhy) {
  SpectralLibrary library;
  library.add(Spectrum::from_peaks({10, 20}, {1, 2}, {}, {{"name", "a"}, {"mol_mass", "30"}}));
  library.add(Spectrum::from_peaks({10, 20}, {1, 2}, {}, {{"name", "b"}}));
  Spectrum broken = Spectrum::from_peaks({10}, {1});
  broken.intensities.push_back(2);
  const Spectrum no_mass = Spectrum::from_peaks({10, 20}, {1, 2});
  SearchOptions o;
  o.mass_tolerance = 0.5;
  const std::vector<Spectrum> queries{broken, no_mass};
  const std::vector<QueryHits> r = library.search(queries, o);
  EXPECT_NE(r[0].error.find("intensity"), std::string::npos);
  EXPECT_NE(r[1].error.find("molecular mass"), std::string::npos);
  EXPECT_TRUE(r[1].hits.empty());
  // Without the window both entries tie; the lower index comes first.
  o.mass_tolerance.reset();
  const QueryHits all = library.search(std::vector<Spectrum>{no_mass}, o)[0];
  ASSERT_EQ(all.hits.size(), 2u);
  EXPECT_EQ(all.hits[0].index, 0u);
  EXPECT_EQ(all.hits[0].score, all.hits[1].score);
  o.similarity.tolerance = std::nan("");
  EXPECT_THROW(library.search(queries, o), InvalidInput);
  EXPECT_THROW(library.add(broken), InvalidInput);
}

}  // namespace
}  // namespace tessarin::spectra
