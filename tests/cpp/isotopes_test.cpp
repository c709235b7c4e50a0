#include "spectra/isotopes.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <thread>

#include "core/errors.h"

namespace tessarin::spectra {
namespace {

// Natural abundances (RDKit's table) used in the hand-worked patterns.
constexpr double kCl35 = 0.7578, kCl37 = 0.2422, kBr79 = 0.5069, kBr81 = 0.4931;
constexpr double kC12 = 0.9893, kC13 = 0.0107, kH1 = 0.999885, kH2 = 0.000115;
constexpr double kO16 = 0.99757, kO17 = 0.00038, kO18 = 0.00205;

void expect_pattern(const std::vector<IsotopePeak>& got, const std::map<int, double>& want, double tol = 1e-12) {
  ASSERT_EQ(got.size(), want.size());
  auto it = want.begin();
  for (const IsotopePeak& peak : got) {
    EXPECT_EQ(peak.mz, it->first);
    EXPECT_NEAR(peak.abundance, it->second, tol) << "m/z " << peak.mz;
    ++it;
  }
}

TEST(IsotopeCluster, HandWorkedHalogenAndSulfurPatterns) {
  expect_pattern(isotope_cluster(std::vector<ElementCount>{{17, 1}}), {{35, kCl35}, {37, kCl37}});
  expect_pattern(isotope_cluster(std::vector<ElementCount>{{35, 1}}), {{79, kBr79}, {81, kBr81}});
  expect_pattern(isotope_cluster(std::vector<ElementCount>{{16, 1}}),
                 {{32, 0.9493}, {33, 0.0076}, {34, 0.0429}, {36, 0.0002}});
  // Cl2Br: (a + b x^2)^2 (c + d x^2).
  const double a = kCl35, b = kCl37, c = kBr79, d = kBr81;
  expect_pattern(
      isotope_cluster(std::vector<ElementCount>{{35, 1}, {17, 2}}),
      {{149, a * a * c}, {151, a * a * d + 2 * a * b * c}, {153, 2 * a * b * d + b * b * c}, {155, b * b * d}});
  // CCl3+ of CCl4: odd masses from 12C, even ones from 13C; 117 is the strongest.
  const std::map<int, double> ccl3 = {{117, kC12 * a * a * a},     {118, kC13 * a * a * a},
                                      {119, kC12 * 3 * a * a * b}, {120, kC13 * 3 * a * a * b},
                                      {121, kC12 * 3 * a * b * b}, {122, kC13 * 3 * a * b * b},
                                      {123, kC12 * b * b * b},     {124, kC13 * b * b * b}};
  const auto cluster = isotope_cluster(std::vector<ElementCount>{{6, 1}, {17, 3}});
  expect_pattern(cluster, ccl3);
  const auto scaled = scaled_to_most_abundant(cluster);
  EXPECT_DOUBLE_EQ(scaled[0].abundance, 1.0);
  EXPECT_NEAR(scaled[2].abundance, 3 * b / a, 1e-12);
  EXPECT_NEAR(scaled[6].abundance, b * b * b / (a * a * a), 1e-12);
}

TEST(IsotopeCluster, LabelledAtomsCountAtTheirOwnMass) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("[2H]C([2H])([2H])O"));
  const std::vector<int> all{0, 1, 2, 3, 4};
  const IonComposition ion = ion_composition(*mol, all);
  ASSERT_EQ(ion.labelled.size(), 3u);
  const double m35 = kH1 * kC12 * kO16;
  const double m36 = kH2 * kC12 * kO16 + kH1 * kC13 * kO16 + kH1 * kC12 * kO17;
  const double m37 = kH1 * kC12 * kO18 + kH1 * kC13 * kO17 + kH2 * kC13 * kO16 + kH2 * kC12 * kO17;
  const double m38 = kH2 * kC12 * kO18 + kH1 * kC13 * kO18 + kH2 * kC13 * kO17;
  expect_pattern(isotope_cluster(ion.elements, ion.labelled, 0.0),
                 {{35, m35}, {36, m36}, {37, m37}, {38, m38}, {39, kH2 * kC13 * kO18}}, 1e-9);
  // 38 lies below 1e-4 of 35 and goes; the rest is renormalised.
  const auto cluster = isotope_cluster(ion.elements, ion.labelled);
  const double kept = m35 + m36 + m37;
  expect_pattern(cluster, {{35, m35 / kept}, {36, m36 / kept}, {37, m37 / kept}}, 1e-9);
  // Explicit hydrogen atoms give the same make-up; taking three hydrogens
  // takes the natural one, then two deuteriums.
  std::unique_ptr<RDKit::ROMol> with_hs(RDKit::MolOps::addHs(static_cast<const RDKit::ROMol&>(*mol)));
  const std::vector<int> all_h{0, 1, 2, 3, 4, 5};
  EXPECT_EQ(isotope_cluster(ion_composition(*with_hs, all_h).elements, ion.labelled), cluster);
  const IonComposition stripped = ion_composition(*mol, all, -3);
  EXPECT_EQ(isotope_cluster(stripped.elements, stripped.labelled)[0].mz, 30);
  EXPECT_THROW(ion_composition(*mol, all, -5), InvalidInput);
  EXPECT_THROW(ion_composition(*mol, std::vector<int>{1, 1}), InvalidInput);
  EXPECT_THROW(ion_composition(*mol, std::vector<int>{5}), IndexOutOfRange);
}

// Atom-by-atom product, nothing cached, trimmed or squared: the reference.
std::map<int, double> naive_cluster(const std::vector<ElementCount>& elements) {
  std::map<int, double> poly{{0, 1.0}};
  for (const ElementCount& e : elements) {
    const auto atom = isotope_cluster(std::vector<ElementCount>{{e.atomic_number, 1}}, {}, 0.0);
    for (int k = 0; k < e.count; ++k) {
      std::map<int, double> next;
      for (const auto& [m, p] : poly)
        for (const IsotopePeak& iso : atom) next[m + iso.mz] += p * iso.abundance;
      poly.swap(next);
    }
  }
  return poly;
}

TEST(IsotopeCluster, MatchesTheAtomByAtomProductWhateverTheOrderOrThread) {
  std::mt19937 rng(7);
  const int elements[] = {1, 5, 6, 7, 8, 14, 16, 17, 34, 35, 50};
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<ElementCount> ion;
    for (int z : elements)
      if (rng() % 3 == 0) ion.push_back({z, static_cast<int>(rng() % (z == 1 || z == 6 ? 40 : 4)) + 1});
    if (ion.empty()) continue;
    const auto got = isotope_cluster(ion, {}, 0.0);
    const auto want = naive_cluster(ion);
    double total = 0;
    for (const IsotopePeak& peak : got) {
      ASSERT_TRUE(want.count(peak.mz));
      EXPECT_NEAR(peak.abundance, want.at(peak.mz), 1e-12);
      total += peak.abundance;
    }
    EXPECT_NEAR(total, 1.0, 1e-12);
    // Split and reversed entries, and a fresh thread, give the same bits.
    std::vector<ElementCount> split(ion.rbegin(), ion.rend());
    split.push_back({ion[0].atomic_number, 0});
    EXPECT_EQ(isotope_cluster(split, {}, 0.0), got);
    std::vector<IsotopePeak> on_thread;
    std::thread([&] { on_thread = isotope_cluster(ion, {}, 0.0); }).join();
    EXPECT_EQ(on_thread, got);
  }
  // Counts beyond the cached powers (C300 H100).
  const std::vector<ElementCount> big{{6, 300}, {1, 100}};
  const auto want = naive_cluster(big);
  for (const IsotopePeak& peak : isotope_cluster(big, {}, 0.0)) {
    EXPECT_NEAR(peak.abundance, want.at(peak.mz), 1e-10);
  }
}

TEST(IsotopeCluster, RefusesImpossibleIons) {
  using E = std::vector<ElementCount>;
  using L = std::vector<LabelledAtom>;
  EXPECT_THROW(isotope_cluster(E{{119, 1}}), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{{6, -1}}), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{}, L{{6, 5}}), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{}), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{{6, 1}}, {}, 1.0), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{{6, 2'000'000}}), InvalidInput);
  EXPECT_THROW(isotope_cluster(E{{6, 1}}, L(2, {53, 2'000'000'000})), InvalidInput);
}

}  // namespace
}  // namespace tessarin::spectra
