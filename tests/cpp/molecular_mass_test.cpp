// The molecular mass of a spectrum from its peaks: hand-made spectra whose
// answer a mass spectrometrist knows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/errors.h"
#include "spectra/molecular_mass.h"
#include "spectra/search.h"

namespace tessarin::spectra {
namespace {

Spectrum peaks(std::vector<std::pair<double, double>> list) {
  std::vector<double> mz, in;
  for (auto [m, i] : list) {
    mz.push_back(m);
    in.push_back(i);
  }
  return Spectrum::from_peaks(mz, in);
}

const MassHypothesis* find(const MassEstimate& e, int mass) {
  for (const MassHypothesis& h : e.hypotheses) {
    if (h.mass == mass) return &h;
  }
  return nullptr;
}

bool mentions(const MassHypothesis& h, const std::string& words) {
  for (const std::string& line : h.evidence) {
    if (line.find(words) != std::string::npos) return true;
  }
  return false;
}

// 1,2-Dichlorobenzene as an EI spectrum shows it: M 146 with the 9:6:1
// cluster of two chlorines, M-Cl at 111/113, C6H3 and C6H4 below.
Spectrum dichlorobenzene() {
  return peaks({{50, 12},
                {73, 8},
                {74, 15},
                {75, 28},
                {109, 4},
                {111, 38},
                {112, 3},
                {113, 12},
                {146, 999},
                {147, 65},
                {148, 640},
                {149, 41},
                {150, 102},
                {151, 6}});
}

TEST(MolecularMass, ChlorineClusterGivesTheLightestIsotopeAndItsTwoChlorines) {
  const MassEstimate e = estimate_molecular_mass(dichlorobenzene());
  ASSERT_FALSE(e.hypotheses.empty());
  EXPECT_EQ(e.hypotheses.front().mass, 146);  // not 148 or 150, the isotope peaks of the cluster
  EXPECT_TRUE(mentions(e.hypotheses.front(), "2 Cl")) << e.hypotheses.front().evidence[1];
  EXPECT_TRUE(mentions(e.hypotheses.front(), "M-35 (Cl)"));
  EXPECT_TRUE(mentions(e.hypotheses.front(), "even mass"));
  double sum = 0;
  for (const MassHypothesis& h : e.hypotheses) {
    EXPECT_GE(h.score, 0.01);
    sum += h.score;
  }
  EXPECT_LE(sum, 1.0 + 1e-12);
  for (std::size_t i = 1; i < e.hypotheses.size(); ++i) EXPECT_GE(e.hypotheses[i - 1].score, e.hypotheses[i].score);
  ASSERT_FALSE(e.plausible.empty());
  EXPECT_EQ(e.plausible.front(), 146);
}

// A tertiary alcohol (2-methyl-2-butanol, M 88) whose molecular ion does not
// survive: M-15 (73), M-18 (70) and M-29 (59) point at 88.
TEST(MolecularMass, LossesPointAtAnAbsentMolecularIon) {
  const Spectrum s = peaks({{29, 120},
                            {31, 180},
                            {41, 150},
                            {43, 210},
                            {45, 90},
                            {55, 250},
                            {59, 999},
                            {60, 35},
                            {70, 160},
                            {73, 220},
                            {74, 11}});
  const MassEstimate e = estimate_molecular_mass(s);
  ASSERT_FALSE(e.hypotheses.empty());
  EXPECT_EQ(e.hypotheses.front().mass, 88);
  EXPECT_TRUE(mentions(e.hypotheses.front(), "no peak at m/z 88"));
  EXPECT_TRUE(mentions(e.hypotheses.front(), "M-15 (CH3)"));
  EXPECT_TRUE(mentions(e.hypotheses.front(), "M-18 (H2O)"));
}

// Two peaks of one height at 134 and 135 and nothing else to choose by but
// the fragments: odd-m/z fragments (even-electron ions of a molecule without
// nitrogen) favour the even mass, even-m/z ones the odd mass of one nitrogen.
TEST(MolecularMass, NitrogenRuleBreaksATie) {
  auto with_fragments = [](int shift) {
    return peaks({{39.0 + shift, 300},
                  {51.0 + shift, 250},
                  {65.0 + shift, 400},
                  {77.0 + shift, 600},
                  {91.0 + shift, 999},
                  {105.0 + shift, 500},
                  {134, 400},
                  {135, 400}});
  };
  auto margin = [](const MassEstimate& e) {
    const MassHypothesis* even = find(e, 134);
    const MassHypothesis* odd = find(e, 135);
    const double ps = even ? even->score : 0, po = odd ? odd->score : 0;
    return po - ps;
  };
  const MassEstimate no_nitrogen = estimate_molecular_mass(with_fragments(0));
  const MassEstimate nitrogen = estimate_molecular_mass(with_fragments(1));
  EXPECT_LT(margin(no_nitrogen), margin(nitrogen));
  EXPECT_EQ(no_nitrogen.hypotheses.front().mass % 2, 0);
  EXPECT_EQ(nitrogen.hypotheses.front().mass % 2, 1);
  EXPECT_TRUE(mentions(nitrogen.hypotheses.front(), "odd number of nitrogens"));
}

// A fragment 8 u below a mass: no neutral weighs 8 u, so that mass is much
// less likely the molecule's than with the same fragment 15 u below it.
TEST(MolecularMass, ImpossibleLossRulesOutAMass) {
  const std::vector<std::pair<double, double>> base = {{29, 200}, {41, 300},  {43, 999}, {57, 400},
                                                       {71, 150}, {100, 120}, {101, 8}};
  auto with = [&](double mz) {
    std::vector<std::pair<double, double>> list = base;
    list.emplace_back(mz, 700);
    return estimate_molecular_mass(peaks(list));
  };
  const MassEstimate methyl_loss = with(85);
  const MassEstimate impossible = with(92);
  ASSERT_EQ(methyl_loss.hypotheses.front().mass, 100);
  EXPECT_GT(methyl_loss.hypotheses.front().score, 0.9);
  const MassHypothesis* at_100 = find(impossible, 100);
  ASSERT_NE(at_100, nullptr);
  EXPECT_LT(at_100->score, methyl_loss.hypotheses.front().score - 0.2);
  EXPECT_GT(impossible.hypotheses.size(), methyl_loss.hypotheses.size()) << "other masses gain";
  EXPECT_TRUE(mentions(*at_100, "impossible losses: peaks at M-8"));
  EXPECT_TRUE(mentions(methyl_loss.hypotheses.front(), "impossible losses: no peak"));
}

TEST(MolecularMass, LibraryEvidenceNamesTheBestEntryOfEachMass) {
  // The library holds the spectrum's own structure at 146 and a poor match at 148.
  Spectrum own = dichlorobenzene();
  own.metadata.set(keys::name, "dichlorobenzene");
  own.metadata.set(keys::mol_mass, "146");
  Spectrum other = peaks({{50, 999}, {148, 100}});
  other.metadata.set(keys::name, "other");
  other.metadata.set(keys::mol_mass, "148");
  SpectralLibrary library;
  library.add(other);
  library.add(own);
  const Spectrum query = dichlorobenzene();
  const std::vector<LibraryMassEvidence> ev = library_mass_evidence(library, std::span(&query, 1), 1);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_NEAR(ev[0].masses.at(146).best, 1.0, 1e-12);
  EXPECT_EQ(ev[0].masses.at(146).best_index, 1u);
  EXPECT_LT(ev[0].masses.at(148).best, 0.5);
  const std::vector<MassEstimate> e = estimate_molecular_masses(std::span(&query, 1), {}, &library, 1);
  ASSERT_TRUE(e[0].used_library);
  EXPECT_EQ(e[0].hypotheses.front().mass, 146);
  EXPECT_TRUE(mentions(e[0].hypotheses.front(), "(dichlorobenzene)"));
}

TEST(MolecularMass, SameAnswerAloneInABatchAndAgain) {
  const Spectrum a = dichlorobenzene();
  const Spectrum b = peaks({{43, 999}, {58, 300}, {59, 10}});
  const MassEstimate alone = estimate_molecular_mass(a);
  const std::vector<Spectrum> batch = {b, a, b};
  const std::vector<MassEstimate> many = estimate_molecular_masses(batch, {}, nullptr);
  ASSERT_EQ(many.size(), 3u);
  EXPECT_EQ(many[1].hypotheses, alone.hypotheses);
  EXPECT_EQ(many[0].hypotheses, many[2].hypotheses);
  EXPECT_EQ(estimate_molecular_mass(a).hypotheses, alone.hypotheses);
  // The metadata is not read: a stated molecular mass changes nothing.
  Spectrum stated = a;
  stated.metadata.set(keys::mol_mass, "300");
  EXPECT_EQ(estimate_molecular_mass(stated).hypotheses, alone.hypotheses);
}

TEST(MolecularMass, BadInputIsRefusedClearly) {
  EXPECT_THROW(estimate_molecular_mass(Spectrum{}), InvalidInput);
  EXPECT_THROW(estimate_molecular_mass(peaks({{50, 0}, {60, 0}})), InvalidInput);
  Spectrum nan = peaks({{50, 10}, {60, 20}});
  nan.intensities[1] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(estimate_molecular_mass(nan), InvalidInput);
  EXPECT_THROW(estimate_molecular_mass(peaks({{50, 10}, {1e9, 20}})), InvalidInput);
  MassEstimateOptions none;
  none.max_hypotheses = 0;
  EXPECT_THROW(estimate_molecular_mass(dichlorobenzene(), none), InvalidInput);
  // One bad spectrum of a batch is refused before any work.
  const std::vector<Spectrum> batch = {dichlorobenzene(), Spectrum{}};
  EXPECT_THROW(estimate_molecular_masses(batch, {}, nullptr), InvalidInput);
}

}  // namespace
}  // namespace tessarin::spectra
