// The drivers that score predictions against measured spectra, held against
// plain computations: predict each molecule, score it, sort.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/number_format.h"
#include "identify/evaluate.h"
#include "identify/library_search.h"
#include "identify/mass_prior.h"
#include "identify/rank.h"
#include "identify/structure.h"
#include "identify/tables.h"
#include "prediction/predict.h"
#include "run/input.h"
#include "spectra/evaluation.h"
#include "spectra/search.h"
#include "spectra/writer.h"
#include "spectra_test_support.h"

namespace tessarin::identify {
namespace {

using spectra::Spectrum;

Spectrum predicted(const std::string& smiles) {
  std::optional<Spectrum> s = prediction::predict_spectrum(smiles, {});
  if (!s) throw std::runtime_error("no prediction for " + smiles);
  return *s;
}

MoleculeSource source_of(std::vector<run::MoleculeInput> molecules) {
  auto shared = std::make_shared<std::vector<run::MoleculeInput>>(std::move(molecules));
  auto next = std::make_shared<std::size_t>(0);
  return [shared, next](run::MoleculeInput& m) {
    if (*next >= shared->size()) return false;
    m = (*shared)[(*next)++];
    return true;
  };
}

std::vector<run::MoleculeInput> inputs(const std::vector<std::string>& smiles) {
  std::vector<run::MoleculeInput> out;
  for (std::size_t i = 0; i < smiles.size(); ++i)
    out.push_back({i + 1, std::string("m").append(std::to_string(i)), smiles[i], "", "", ""});
  return out;
}

TEST(Structures, CanonicalSmilesDropsStereoAndFormulasCompareByCounts) {
  EXPECT_EQ(canonical_smiles("C/C=C/C"), canonical_smiles("C/C=C\\C"));
  EXPECT_EQ(canonical_smiles("N[C@@H](C)C(=O)O"), canonical_smiles("OC(=O)C(C)N"));
  EXPECT_NE(canonical_smiles("[13CH4]"), canonical_smiles("C"));  // isotopes stay
  EXPECT_TRUE(canonical_smiles("C[N](C)(C)(C)C").has_value());    // a valence RDKit refuses to sanitise
  // Two spellings of one unsanitisable molecule share a key (explicit hydrogens made implicit).
  EXPECT_EQ(canonical_smiles("[H]C(F)(F)(F)(F)F"), canonical_smiles("F[CH](F)(F)(F)F"));
  EXPECT_FALSE(canonical_smiles("C1CC").has_value());
  EXPECT_FALSE(canonical_smiles("").has_value());

  const std::optional<Composition> c = composition_of("OCC");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->formula, "C2H6O");
  EXPECT_EQ(c->nominal_mass, 46);
  EXPECT_TRUE(same_formula("C2H6O", "H6 C2 O1"));
  EXPECT_TRUE(same_formula("CH4N0", "CH4"));
  EXPECT_FALSE(same_formula("C6H6", "C6H5"));
  EXPECT_FALSE(same_formula("CO", "Co"));
  EXPECT_THROW(formula_counts("C6H6+"), InvalidInput);
  EXPECT_THROW(formula_counts("c6h6"), InvalidInput);
  EXPECT_THROW(formula_counts(" "), InvalidInput);

  const std::optional<Composition> labelled = composition_of("[2H]C([2H])([2H])O");
  ASSERT_TRUE(labelled);
  EXPECT_EQ(labelled->formula, "CHD3O");
  EXPECT_EQ(labelled->nominal_mass, 35);
  EXPECT_TRUE(same_formula("CHD3O", "CH[2H]3O"));
  EXPECT_TRUE(same_formula("C5[13C]H6", "[13C]C5H5[1H]"));
  EXPECT_FALSE(same_formula("C5[13C]H6", "C6H6"));
  EXPECT_FALSE(same_formula("CH4O", "CHD3O"));
  for (const char* bad : {"C[13]H4", "[C]H4", "[013C]H4", "[13CH4]", "[13c]"}) {
    EXPECT_THROW(formula_counts(bad), InvalidInput) << bad;
  }
}

TEST(RankCandidates, EqualsPredictingAndScoringEachCandidateAndSorting) {
  // Isomeric esters and relatives, a duplicate (a tie), an unreadable SMILES.
  const std::vector<std::string> smiles = {"CCCC(=O)OC", "CCCOC(=O)C", "CCOC(=O)CC", "CCOC(=O)C",
                                           "C1CC",       "CCCOC(=O)C", "ClCCO",      "CCCC(=O)O"};
  Spectrum measured = predicted("CCCOC(=O)C");
  measured.intensities[0] = 300;  // not quite the prediction
  ASSERT_EQ(measured.metadata.get(spectra::keys::mol_mass), "102");

  for (unsigned jobs : {1u, 2u}) {
    RankOptions options;
    options.run.jobs = jobs;
    const Ranking r = rank_candidates(measured, source_of(inputs(smiles)), options);
    ASSERT_EQ(r.failed.size(), 1u);
    EXPECT_EQ(r.failed[0].position, 4u);
    EXPECT_EQ(r.failed[0].line, 5u);

    // The plain computation.
    struct Expected {
      double score;
      std::size_t matched;
      std::size_t position;
    };
    std::vector<Expected> expected;
    for (std::size_t i = 0; i < smiles.size(); ++i) {
      if (i == 4) continue;
      const spectra::Similarity s = spectra::similarity(measured, predicted(smiles[i]), spectra::sqrt_cosine());
      expected.push_back({s.score, s.matched, i});
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Expected& a, const Expected& b) { return a.score > b.score; });
    ASSERT_EQ(r.rows.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(r.rows[k].score, expected[k].score) << k;
      EXPECT_EQ(r.rows[k].matched, expected[k].matched) << k;
      EXPECT_EQ(r.rows[k].position, expected[k].position) << k;
      EXPECT_EQ(r.rows[k].smiles, smiles[expected[k].position]);
    }
    // The measured structure and its duplicate tie for first, in input order.
    EXPECT_EQ(r.rows[0].position, 1u);
    EXPECT_EQ(r.rows[1].position, 5u);
    EXPECT_EQ(r.rows[0].rank, 1u);
    EXPECT_EQ(r.rows[1].rank, 1u);
    EXPECT_EQ(r.rows[2].rank, 3u);
    EXPECT_LT(r.rows[2].score, r.rows[1].score);
    EXPECT_EQ(ranking_row(r.rows[0]),
              "1\t" + core::format_fixed(r.rows[0].score, 4) + "\t3\tm1\tCCCOC(=O)C\tC5H10O2\n");
  }

  // Filters: the spectrum's molecular ion (102), then a formula.
  RankOptions by_mass;
  by_mass.filter.nominal_mass = molecular_ion_mass(measured);
  const Ranking m = rank_candidates(measured, source_of(inputs(smiles)), by_mass);
  EXPECT_EQ(m.rows.size(), 4u);
  EXPECT_EQ(m.filtered_out, 3u);
  RankOptions by_formula;
  by_formula.filter.formula = "C2H5OCl";
  const Ranking f = rank_candidates(measured, source_of(inputs(smiles)), by_formula);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0].smiles, "ClCCO");
  by_formula.filter.formula = "C3H6O+";
  EXPECT_THROW(rank_candidates(measured, source_of(inputs(smiles)), by_formula), InvalidInput);
}

TEST(LibrarySearchDriver, HitsEqualTheExhaustiveSearchAndBadRecordsAreReportedInOrder) {
  std::mt19937 rng(5);
  std::vector<Spectrum> library_spectra;
  for (int i = 0; i < 60; ++i) library_spectra.push_back(spectra::testing::random_spectrum(rng, 4 + rng() % 12, true));
  spectra::SpectralLibrary library;
  for (const Spectrum& s : library_spectra) library.add(s);

  spectra::testing::TempDir dir;
  std::string text;
  std::vector<Spectrum> queries;
  for (int q = 0; q < 7; ++q) {
    Spectrum s = library_spectra[static_cast<std::size_t>(q * 8)];
    s.intensities[0] *= 3;
    s.metadata.set(spectra::keys::name, "query " + std::to_string(q));
    queries.push_back(s);
    text += spectra::msp_record(s);
    if (q == 2) text += "Name: broken\nNum Peaks: 2\n10 x\n\n";
  }
  const std::string path = dir.write("queries.msp", text);

  QuerySearch search;
  search.queries = {path};
  search.options.top = 5;
  search.options.threads = 2;
  search.batch = 3;  // several batches
  std::vector<QueryResult> results;
  std::vector<spectra::RecordError> refused;
  search.result = [&](const QueryResult& r) { results.push_back(r); };
  search.record_error = [&](const spectra::RecordError& e) { refused.push_back(e); };
  const QuerySearchSummary summary = search_queries(library, search);
  EXPECT_EQ(summary.queries, 7u);
  EXPECT_EQ(summary.refused_records, 1u);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].path(), path);
  ASSERT_EQ(results.size(), 7u);
  for (std::size_t q = 0; q < results.size(); ++q) {
    EXPECT_EQ(results[q].query, q);
    EXPECT_EQ(results[q].spectrum.name(), "query " + std::to_string(q));
    EXPECT_EQ(results[q].hits, library.search_exhaustive(queries[q], search.options).hits) << q;
    ASSERT_FALSE(results[q].hits.empty());
    EXPECT_EQ(results[q].hits[0].index, q * 8);  // its own source entry is the best hit
  }
  const std::string rows = hits_rows(library, results[0]);
  EXPECT_EQ(rows.substr(0, rows.find('\n', 0) + 1), "1\tquery 0\t1\t" +
                                                        core::format_fixed(results[0].hits[0].score, 4) + "\t" +
                                                        std::to_string(results[0].hits[0].matched) + "\t1\t\t\t\n");

  search.record_error = nullptr;  // without a sink the first bad record is thrown
  EXPECT_THROW(search_queries(library, search), spectra::RecordError);
}

// The upper end of a measured spectrum against a structure's spectrum, worked
// by hand: measured highest peak of 0.5 % or more at 120 (the trace at 200 is
// below it), so the window is 70..120 (and its two peaks at 69 and 58 lie
// outside); square roots of the shares of the base peak are what count.
TEST(MassHypotheses, UpperEndEvidenceCountsSquareRootedSharesInTheWindow) {
  const Spectrum measured = Spectrum::from_peaks({58, 69, 91, 105, 119.8, 120.2, 200}, {100, 25, 16, 4, 0.5, 0.5, 0.4});
  const UpperEnd upper = upper_end(measured);
  EXPECT_EQ(upper.low, 70);
  EXPECT_EQ(upper.high, 120);
  // Predicts 91 and 119 (not measured) and 69 (outside the window): it explains 91 only.
  const Spectrum structure = Spectrum::from_peaks({69, 91, 119}, {999, 999, 249.75});
  const HypothesisEvidence x =
      hypothesis_evidence(measured, upper, structure, spectra::SimilarityOptions{}, -1, {120, 0.25}, true);
  const auto names = hypothesis_evidence_names();
  auto at = [&](std::string_view name) {
    return x[static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin())];
  };
  EXPECT_DOUBLE_EQ(at("log hypothesis score"), std::log(0.25));
  EXPECT_EQ(at("best hypothesis"), 1.0);
  const double shown = std::sqrt(0.16) + std::sqrt(0.04) + std::sqrt(0.01);  // 91, 105, 120 (0.5 + 0.5)
  EXPECT_NEAR(at("upper end unexplained"), (std::sqrt(0.04) + std::sqrt(0.01)) / shown, 1e-12);
  EXPECT_NEAR(at("upper end not measured"), std::sqrt(0.25) / (1 + std::sqrt(0.25)), 1e-12);
  spectra::SimilarityOptions sqrt_cosine = spectra::sqrt_cosine();
  sqrt_cosine.measured_range = true;
  EXPECT_DOUBLE_EQ(at("similarity"), spectra::similarity(measured, structure, sqrt_cosine).score);
  // Nothing predicted in the window: everything measured there is unexplained, nothing unmeasured.
  const HypothesisEvidence none =
      hypothesis_evidence(measured, upper, Spectrum::from_peaks({40}, {1}), ranking_similarity(), 0, {120, 1}, false);
  EXPECT_EQ(none[3], 1.0);
  EXPECT_EQ(none[4], 0.0);
}

// Across hypotheses every hit of each mass is ranked by the fitted rank score,
// so the first hits do not depend on how many are asked for.
TEST(MassHypotheses, HitsAcrossMassesFollowTheRankScoreWhateverTheTop) {
  std::vector<std::pair<std::string, std::string>> structures = {
      {"toluene", "Cc1ccccc1"},         {"ethylbenzene", "CCc1ccccc1"}, {"o-xylene", "Cc1ccccc1C"},
      {"propylbenzene", "CCCc1ccccc1"}, {"cumene", "CC(C)c1ccccc1"},    {"mesitylene", "Cc1cc(C)cc(C)c1"},
      {"butylbenzene", "CCCCc1ccccc1"}, {"styrene", "C=Cc1ccccc1"},     {"benzaldehyde", "O=Cc1ccccc1"}};
  spectra::SpectralLibrary library;
  for (const auto& [name, smiles] : structures) {
    Spectrum s = predicted(smiles);
    s.metadata.set(spectra::keys::name, name);
    library.add(s);
  }
  std::vector<Spectrum> queries = {library.entry(1), library.entry(3)};
  for (Spectrum& q : queries) q.metadata = {};
  spectra::MassEstimateOptions estimate;
  estimate.plausible_ratio = 0;
  estimate.max_plausible = 3;
  spectra::SearchOptions options;
  options.top = 0;
  std::vector<QueryResult> all, first;
  search_plausible_masses(library, queries, options, estimate, all);
  options.top = 1;
  search_plausible_masses(library, queries, options, estimate, first);
  for (std::size_t q = 0; q < queries.size(); ++q) {
    ASSERT_GT(all[q].hits.size(), 2u);
    ASSERT_EQ(all[q].hit_hypotheses.size(), all[q].hits.size());
    EXPECT_EQ(first[q].hits.front(), all[q].hits.front());
    for (std::size_t k = 1; k < all[q].hits.size(); ++k) {
      EXPECT_GE(hypothesis_rank_score(all[q].hit_hypotheses[k - 1].evidence, true),
                hypothesis_rank_score(all[q].hit_hypotheses[k].evidence, true));
    }
    EXPECT_EQ(all[q].hits.front().index, q == 0 ? 1u : 3u);  // its own entry
  }
}

TEST(Evaluate, MeasuresAndIsobaricRanksEqualTheirDefinitions) {
  // Measured spectra made from predictions (the peaks, other intensities):
  // three isomeric C4H8O2, one of them twice, and two stereo forms of one
  // structure.
  const auto measured_of = [](const std::string& smiles, const std::string& name, double change) {
    Spectrum s = predicted(smiles);
    s.metadata = {};
    s.metadata.set(spectra::keys::name, name);
    s.metadata.set(spectra::keys::smiles, smiles);
    for (std::size_t i = 0; i < s.size(); ++i) s.intensities[i] = 100 + change * static_cast<double>(i);
    return s;
  };
  std::vector<Spectrum> measured = {
      measured_of("CCOC(=O)C", "ethyl acetate", 40), measured_of("CCC(=O)OC", "methyl propanoate", 0),
      measured_of("CCCC(=O)O", "butanoic acid", 7),  measured_of("C/C=C/C", "trans-2-butene", 3),
      measured_of("C/C=C\\C", "cis-2-butene", 5),    measured_of("O=C(OC)CC", "methyl propanoate again", 9)};
  Spectrum no_smiles = measured[0];
  no_smiles.metadata.erase(spectra::keys::smiles);
  measured.push_back(no_smiles);
  Spectrum bad = measured[0];
  bad.metadata.set(spectra::keys::smiles, "C1CC");
  measured.push_back(bad);
  Spectrum huge = Spectrum::from_peaks({1e300}, {1});  // no integer m/z: this spectrum alone has no measures
  huge.metadata.set(spectra::keys::smiles, "CCCC(=O)O");
  measured.push_back(huge);

  EvaluateOptions options;
  options.run.jobs = 2;
  const Evaluation ev = evaluate_spectra(measured, options);
  EXPECT_EQ(ev.structures, 4u);  // the 2-butenes are one structure, methyl propanoate is one
  EXPECT_EQ(ev.failed_structures, 0u);
  ASSERT_EQ(ev.spectra.size(), 9u);
  EXPECT_EQ(ev.spectra[6].error, "no SMILES");
  EXPECT_EQ(ev.spectra[7].error, "unreadable SMILES: C1CC");
  EXPECT_NE(ev.spectra[8].error.find("too large"), std::string::npos);
  EXPECT_FALSE(ev.spectra[8].measures.score.has_value());

  const std::vector<std::string> isomers = {"CCOC(=O)C", "COC(=O)CC", "OC(=O)CCC"};  // nominal mass 88
  std::vector<Spectrum> candidates;
  for (const std::string& s : isomers) candidates.push_back(predicted(*canonical_smiles(s)));
  for (std::size_t i : {0u, 1u, 2u, 5u}) {
    const EvaluatedSpectrum& e = ev.spectra[i];
    ASSERT_TRUE(e.error.empty()) << e.error;
    const std::size_t own = i == 5 ? 1 : i;
    EXPECT_EQ(e.smiles, *canonical_smiles(isomers[own]));
    EXPECT_EQ(e.nominal_mass, 88);
    EXPECT_EQ(e.candidates, 3u);
    EXPECT_EQ(*e.measures.score, spectra::similarity(measured[i], candidates[own], spectra::sqrt_cosine()).score);
    const spectra::PeakMeasures p = spectra::peak_measures(measured[i], candidates[own], 88);
    EXPECT_EQ(e.measures.peaks.recall, p.recall);
    EXPECT_EQ(e.measures.peaks.precision, p.precision);
    EXPECT_EQ(e.measures.peaks.base_peak_hit, p.base_peak_hit);
    const spectra::CandidateRank r = spectra::candidate_rank(spectra::candidate_scores(measured[i], candidates), own);
    EXPECT_EQ(e.measures.rank->rank, r.rank);
    EXPECT_EQ(e.measures.rank->top1, r.top1);
    EXPECT_EQ(e.measures.rank->reciprocal_rank, r.reciprocal_rank);
  }
  EXPECT_EQ(ev.spectra[1].measures.rank->rank, 1.0);  // its own peaks, none of the others' alone
  // The 2-butenes have no isobar: rank 1 among one candidate.
  EXPECT_EQ(ev.spectra[3].candidates, 1u);
  EXPECT_EQ(ev.spectra[4].measures.rank->top1, 1.0);
  EXPECT_EQ(ev.summary.top1.count, 6u);
  EXPECT_DOUBLE_EQ(ev.mean_candidates, (3.0 * 4 + 1 + 1) / 6);

  // Thread count changes nothing; the table row has every column.
  options.run.jobs = 1;
  const Evaluation one = evaluate_spectra(measured, options);
  for (std::size_t i = 0; i < measured.size(); ++i) {
    EXPECT_EQ(evaluation_row(one.spectra[i]), evaluation_row(ev.spectra[i]));
  }
  std::size_t tabs = 0;
  for (char c : evaluation_row(ev.spectra[0])) tabs += c == '\t' ? 1 : 0;
  EXPECT_EQ(tabs, 17u);
}

}  // namespace
}  // namespace tessarin::identify
