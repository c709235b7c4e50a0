#include "prediction/ei_model.h"

#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <thread>

#include "core/errors.h"
#include "prediction/ei_weights.h"

namespace tessarin::prediction {
namespace {

std::map<int, EiPeak> by_mz(const std::vector<EiPeak>& peaks) {
  std::map<int, EiPeak> out;
  for (const EiPeak& p : peaks) out[p.mz] = p;
  return out;
}

bool lists(const EiPeak& p, const std::string& formula) {
  return std::find(p.formulas.begin(), p.formulas.end(), formula) != p.formulas.end();
}

TEST(EiModel, CarbonTetrachlorideShowsTheTrichloromethylClusterByHand) {
  // CCl3+: (c + d x)(a + b x^2)^3 with RDKit's carbon and chlorine
  // abundances, relative to the strongest.
  const double a = 0.7578, b = 0.2422, r = b / a, c = 0.0107 / 0.9893;
  const std::map<int, double> want{
      {117, 1.0},           {118, c},         {119, 3 * r},        {120, 3 * r * c}, {121, 3 * r * r},
      {122, 3 * r * r * c}, {123, r * r * r}, {124, r * r * r * c}};
  std::unique_ptr<RDKit::ROMol> mol(RDKit::SmilesToMol("ClC(Cl)(Cl)Cl"));
  bool found = false;
  for (const EiIon& ion : ei_candidate_ions(*mol)) {
    if (ion.formula != "CCl3") continue;
    found = true;
    EXPECT_EQ(ion.mz, 117);
    EXPECT_EQ(ion.neutral, "Cl");
    ASSERT_EQ(ion.cluster.size(), want.size());
    for (const spectra::IsotopePeak& p : ion.cluster) EXPECT_NEAR(p.abundance, want.at(p.mz), 1e-9) << p.mz;
  }
  ASSERT_TRUE(found);
  // In the spectrum the whole cluster shows, 117 and 119 about level (the
  // hydrogen-shifted CHCl3 and CH2Cl3 ions add only a little), each peak
  // annotated CCl3 or its isotope.
  const auto peaks = ei_peaks_of_smiles("ClC(Cl)(Cl)Cl");
  const auto m = by_mz(peaks);
  for (int mz : {117, 119, 121, 123}) ASSERT_TRUE(m.count(mz)) << mz;
  EXPECT_EQ(m.at(117).formulas.front(), "CCl3");
  EXPECT_NEAR(double(m.at(119).intensity) / m.at(117).intensity, 1.0, 0.1);
  EXPECT_GT(m.at(121).intensity, m.at(123).intensity);
  EXPECT_TRUE(lists(m.at(123), "CCl3 isotope +6"));
  for (const EiPeak& p : peaks) {
    EXPECT_GE(p.intensity, 10);
    EXPECT_LE(p.intensity, 999);
  }
  EXPECT_EQ(std::max_element(peaks.begin(), peaks.end(), [](auto& x, auto& y) { return x.intensity < y.intensity; })
                ->intensity,
            999);
}

TEST(EiModel, BromideKeepsItsOneToOnePairAndLabelledAtomsTheirMass) {
  // CF3Br has no hydrogen to lose, so nothing else falls on its molecular
  // ion's pair: 150/148 is (81Br/79Br)^(gamma/2) up to rounding.
  const double pair = std::pow(0.4931 / 0.5069, kEiGamma / 2);
  const auto m = by_mz(ei_peaks_of_smiles("BrC(F)(F)F"));
  ASSERT_TRUE(m.count(148) && m.count(150));
  EXPECT_LE(std::abs(m.at(150).intensity - pair * m.at(148).intensity), 1.0);
  EXPECT_EQ(m.at(148).formulas, std::vector<std::string>{"CBrF3"});
  EXPECT_EQ(m.at(150).formulas, std::vector<std::string>{"CBrF3 isotope +2"});
  // Deuterated bromobenzene: the molecular ion pair moves to 161/163 (161
  // shared with the 81Br of the ion that lost a deuterium, at 159/161) and
  // nothing is left at the unlabelled 156/158.
  const auto d = by_mz(ei_peaks_of_smiles("Brc1c([2H])c([2H])c([2H])c([2H])c1[2H]"));
  ASSERT_TRUE(d.count(161) && d.count(163));
  EXPECT_EQ(d.at(161).formulas.front(), "C6D5Br");
  EXPECT_GT(d.at(163).intensity, d.at(161).intensity / 2);
  EXPECT_EQ(d.at(159).formulas.front(), "C6D4Br");
  EXPECT_FALSE(d.count(156) || d.count(158));
}

TEST(EiModel, SharedNominalMassKeepsEveryFormula) {
  const auto m = by_mz(ei_peaks_of_smiles("CCOC(=O)C1CCC(I)CC1"));
  ASSERT_TRUE(m.count(127));
  EXPECT_TRUE(lists(m.at(127), "I"));
  EXPECT_TRUE(lists(m.at(127), "C7H11O2"));
}

TEST(EiModel, SameSpectrumWhateverRanBeforeAndOnWhicheverThread) {
  const std::vector<std::string> smiles{"CCCCC(=O)OC", "c1ccccc1CCN", "ClC(Cl)(Cl)Cl", "CC(C)(C)O", "O=C1CCCCC1"};
  std::vector<std::vector<EiPeak>> alone;
  for (const std::string& s : smiles) alone.push_back(ei_peaks_of_smiles(s));
  std::vector<std::vector<EiPeak>> threaded(smiles.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < smiles.size(); ++i) {
    threads.emplace_back(
        [&, i] { threaded[smiles.size() - 1 - i] = ei_peaks_of_smiles(smiles[smiles.size() - 1 - i]); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(alone, threaded);
  EXPECT_THROW(ei_peaks_of_smiles("C1CC"), InvalidInput);
}

}  // namespace
}  // namespace tessarin::prediction
