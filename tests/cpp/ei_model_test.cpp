#include "prediction/ei_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

#include "core/errors.h"
#include "identify/structure.h"
#include "prediction/predict.h"

namespace tessarin::prediction {
namespace {

std::vector<EiPeak> peaks_of(const std::string& smiles) {
  const std::optional<molecule::PreparedMolecule> p = molecule::prepare(smiles);
  if (!p) throw InvalidInput("unparsable SMILES");
  return ei_peaks(*p->mol, p->perception);
}

std::map<int, EiPeak> by_mz(const std::vector<EiPeak>& peaks) {
  std::map<int, EiPeak> out;
  for (const EiPeak& p : peaks) out[p.mz] = p;
  return out;
}

bool lists(const EiPeak& p, const std::string& formula) {
  return std::find(p.formulas.begin(), p.formulas.end(), formula) != p.formulas.end();
}

// Nominal-mass isotope pattern of `n` atoms of an element whose isotopes are
// (mass offset, abundance), multiplied out by hand.
using Pattern = std::map<int, double>;
Pattern times(const Pattern& a, const Pattern& b) {
  Pattern out;
  for (auto [i, x] : a) {
    for (auto [j, y] : b) out[i + j] += x * y;
  }
  return out;
}
Pattern power(const Pattern& element, int n) {
  Pattern out{{0, 1.0}};
  for (int k = 0; k < n; ++k) out = times(out, element);
  return out;
}
const Pattern kC{{0, 0.9893}, {1, 0.0107}};
const Pattern kCl{{0, 0.7578}, {2, 0.2422}};
const Pattern kBr{{0, 0.5069}, {2, 0.4931}};
const Pattern kS{{0, 0.9493}, {1, 0.0076}, {2, 0.0429}, {4, 0.0002}};

TEST(EiModel, IsotopeClustersInTheSpectrumFollowTheNaturalAbundances) {
  // Ions that nothing else overlaps: CCl3+ of CCl4, Br2+, CS2+ and CCl2Br+ of
  // CBr2Cl2. Each peak of the cluster, relative to the cluster's strongest,
  // read off the final 0..999 spectrum.
  struct Case {
    std::string smiles;
    int mz;  // the ion's own m/z
    Pattern pattern;
  };
  const std::vector<Case> cases{
      {"ClC(Cl)(Cl)Cl", 117, times(kC, power(kCl, 3))},
      {"BrBr", 158, power(kBr, 2)},
      {"S=C=S", 76, times(kC, power(kS, 2))},
      {"ClC(Cl)(Br)Br", 161, times(times(kC, power(kCl, 2)), kBr)},
  };
  for (const Case& c : cases) {
    const auto m = by_mz(peaks_of(c.smiles));
    double strongest = 0.0;
    for (auto [off, x] : c.pattern) strongest = std::max(strongest, x);
    int reference = 0;
    for (auto [off, x] : c.pattern) {
      if (x == strongest) reference = c.mz + off;
    }
    ASSERT_TRUE(m.count(reference)) << c.smiles;
    ASSERT_GE(m.at(reference).intensity, 100) << c.smiles << ": the cluster is too weak to read";
    for (auto [off, x] : c.pattern) {
      const double want = x / strongest;
      if (want < 0.02) continue;  // below the spectrum's floor or its rounding
      ASSERT_TRUE(m.count(c.mz + off)) << c.smiles << " " << c.mz + off;
      const double got = double(m.at(c.mz + off).intensity) / m.at(reference).intensity;
      EXPECT_NEAR(got, want, 0.01) << c.smiles << " at m/z " << c.mz + off;
    }
  }
  // The heavier peaks name the ion as its isotope peaks.
  const auto ccl4 = by_mz(peaks_of("ClC(Cl)(Cl)Cl"));
  EXPECT_EQ(ccl4.at(117).formulas, std::vector<std::string>{"CCl3"});
  EXPECT_EQ(ccl4.at(119).formulas, std::vector<std::string>{"CCl3 isotope +2"});
  // A labelled chlorine has no partner: C[35Cl]4 gives C[35Cl]3 alone at 117.
  const auto labelled = by_mz(peaks_of("[35Cl]C([35Cl])([35Cl])[35Cl]"));
  EXPECT_EQ(labelled.at(117).formulas, std::vector<std::string>{"C[35Cl]3"});
  EXPECT_FALSE(labelled.count(119) || labelled.count(121));
}

// Formula counts with labelled atoms as their own terms (D, [35Cl]).
std::map<std::string, long long> counts(const std::string& formula) {
  return formula.empty() ? std::map<std::string, long long>{} : identify::formula_counts(formula);
}

TEST(EiModel, EveryIonIsMadeOfTheMoleculesOwnAtoms) {
  // Ion plus neutral is the molecule, term by term; an ion that gains
  // hydrogens takes them from the rest of the molecule, which must hold them
  // (natural ones before labelled ones).
  std::vector<std::string> smiles{"ClC(Cl)(Cl)Cl",
                                  "FC(F)(F)C(F)(F)F",
                                  "ClC(Cl)Cl",
                                  "O=C=O",
                                  "[2H]C([2H])([2H])O",
                                  "[35Cl]C(Cl)(Cl)Cl",
                                  "[2H]C([2H])([2H])C(=O)CCC",
                                  "ClC(Cl)(Cl)C(=O)OCC",
                                  "Clc1c(Cl)c(Cl)c(Cl)c(Cl)c1Cl",
                                  "C1CCC2(CC1)OCCO2",
                                  "[13CH3]C(=O)O",
                                  "[Na+].[O-]C(=O)C",
                                  "OC(=O)C(F)(F)F",
                                  "BrC(Br)Br",
                                  "CCCCC(=O)OC(C)(C)C",
                                  "N#CC#N"};
  std::ifstream nci("/usr/share/RDKit/Data/NCI/first_5K.smi");
  std::string line;
  for (int k = 0; k < 300 && std::getline(nci, line); ++k) smiles.push_back(line.substr(0, line.find_first_of(" \t")));
  ASSERT_GT(smiles.size(), 250u);
  std::size_t ions = 0;
  for (const std::string& s : smiles) {
    const std::optional<molecule::PreparedMolecule> p = molecule::prepare(s);
    ASSERT_TRUE(p) << s;
    const identify::Composition molecule = identify::composition_of(*p->mol);
    const auto whole = counts(molecule.formula);
    for (const EiIon& ion : ei_candidate_ions(*p->mol, p->perception)) {
      ++ions;
      auto sum = counts(ion.formula);
      for (const auto& [term, n] : counts(ion.neutral)) sum[term] += n;
      if (ion.molecular) {
        // the molecule less 0, 1 or 2 of its hydrogens
        for (const auto& [term, n] : whole) {
          if (term != "H" && term != "D") {
            EXPECT_EQ(sum[term], n) << s << " " << ion.formula << " " << term;
          }
        }
      } else {
        EXPECT_EQ(sum, whole) << s << ": " << ion.formula << " + " << ion.neutral;
      }
    }
    // The spectrum's formulas too, the fingerprint network's own ions among them.
    for (const EiPeak& peak : ei_peaks(*p->mol, p->perception)) {
      for (const std::string& named : peak.formulas) {
        for (const auto& [term, n] : counts(named.substr(0, named.find(' '))))
          EXPECT_LE(n, whole.count(term) ? whole.at(term) : 0) << s << " m/z " << peak.mz << " " << named;
      }
    }
  }
  EXPECT_GT(ions, 50000u);
  // The cases that once went wrong, by name: nothing holds a hydrogen the
  // molecule lacks, and CD3OH's hydroxyl gains a deuterium, never a second H.
  for (const char* s : {"ClC(Cl)(Cl)Cl", "FC(F)(F)C(F)(F)F", "O=C=O"}) {
    for (const EiIon& ion : ei_candidate_ions(s))
      EXPECT_EQ(counts(ion.formula).count("H"), 0u) << s << " " << ion.formula;
  }
  bool gained = false;
  for (const EiIon& ion : ei_candidate_ions("[2H]C([2H])([2H])O")) {
    EXPECT_LE(counts(ion.formula)["H"], 1) << ion.formula;
    gained = gained || ion.formula == "HDO";
  }
  EXPECT_TRUE(gained);
  // CHCl3: the chloride ion gains the one hydrogen (HCl), never two.
  for (const EiIon& ion : ei_candidate_ions("ClC(Cl)Cl")) EXPECT_LE(counts(ion.formula)["H"], 1) << ion.formula;
}

TEST(EiModel, OneSpectrumPerMoleculeWhateverTheRouteOrTheWriting) {
  // The same peaks with or without the VIF analysis before the model, from a
  // SMILES written aromatic or as its Kekulé structure, and in every order
  // and on every thread. Lower-case p-benzoquinone is no aromatic ring.
  const std::vector<std::pair<std::string, std::string>> same{
      {"c1ccccc1CC(=O)O", "C1=CC=CC=C1CC(=O)O"},
      {"O=c1ccc(=O)cc1", "O=C1C=CC(=O)C=C1"},
      {"Cc1ccc2ccccc2n1", "CC1=NC2=CC=CC=C2C=C1"},
  };
  PredictionOptions ei;
  ei.model = Model::ei;
  for (const auto& [a, b] : same) {
    const auto alone = predict(a, ei, Analysis::if_needed);
    const auto analysed = predict(a, ei, Analysis::wanted);
    const auto kekule = predict(b, ei, Analysis::if_needed);
    ASSERT_TRUE(alone && analysed && kekule);
    EXPECT_FALSE(alone->analysis);
    ASSERT_TRUE(analysed->analysis);
    EXPECT_EQ(alone->peaks, analysed->peaks) << a;
    EXPECT_EQ(alone->peaks, kekule->peaks) << a << " / " << b;
    EXPECT_EQ(alone->formula, analysed->formula);
    EXPECT_EQ(alone->mol_mass, analysed->mol_mass);
  }
  const std::vector<std::string> smiles{"CCCCC(=O)OC", "c1ccccc1CCN", "ClC(Cl)(Cl)Cl", "CC(C)(C)O", "O=C1CCCCC1"};
  std::vector<std::vector<EiPeak>> alone;
  for (const std::string& s : smiles) alone.push_back(peaks_of(s));
  std::vector<std::vector<EiPeak>> threaded(smiles.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < smiles.size(); ++i) {
    const std::size_t k = smiles.size() - 1 - i;
    threads.emplace_back([&, k] { threaded[k] = peaks_of(smiles[k]); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(alone, threaded);
  EXPECT_FALSE(predict("C1CC", ei));
  EXPECT_THROW(ei_candidate_ions("C1CC"), InvalidInput);
}

TEST(EiModel, LabelledAtomsKeepTheirMassAndSharedMassesEveryFormula) {
  // CF3Br: the molecular ion's pair 148/150 is 79Br : 81Br.
  const auto m = by_mz(peaks_of("BrC(F)(F)F"));
  ASSERT_TRUE(m.count(148) && m.count(150));
  EXPECT_LE(std::abs(m.at(150).intensity - 0.4931 / 0.5069 * m.at(148).intensity), 1.0);
  EXPECT_EQ(m.at(148).formulas, std::vector<std::string>{"CBrF3"});
  // Deuterated bromobenzene: the molecular ion pair moves to 161/163 (161
  // shared with the 81Br of the ion that lost a deuterium, at 159/161) and
  // nothing is left at the unlabelled 156/158.
  const auto d = by_mz(peaks_of("Brc1c([2H])c([2H])c([2H])c([2H])c1[2H]"));
  ASSERT_TRUE(d.count(161) && d.count(163));
  EXPECT_EQ(d.at(161).formulas.front(), "C6D5Br");
  EXPECT_FALSE(d.count(156) || d.count(158));
  const auto e = by_mz(peaks_of("CCOC(=O)C1CCC(I)CC1"));
  ASSERT_TRUE(e.count(127));
  EXPECT_TRUE(lists(e.at(127), "I"));
  EXPECT_TRUE(lists(e.at(127), "C7H11O2"));
}

TEST(EiModel, ExplanationAccountsForEveryPeak) {
  for (const char* s : {"ClC(Cl)(Cl)Cl", "CCCCC(C)=O", "CC(=O)c1ccccc1"}) {
    const std::optional<EiExplanation> x = explain_ei_spectrum(s);
    ASSERT_TRUE(x);
    const std::vector<EiPeak> peaks = peaks_of(s);
    ASSERT_EQ(x->peaks.size(), peaks.size()) << s;
    for (std::size_t k = 0; k < peaks.size(); ++k) {
      const EiExplainedPeak& p = x->peaks[k];
      EXPECT_EQ(p.mz, peaks[k].mz);
      EXPECT_EQ(p.intensity, peaks[k].intensity);
      double total = 0.0;
      for (std::size_t c = 0; c < p.contributions.size(); ++c) {
        const EiContribution& part = p.contributions[c];
        ASSERT_LT(part.ion, x->ions.size());
        EXPECT_EQ(x->ions[part.ion].mz + part.isotope_offset, p.mz);
        if (c > 0) {
          EXPECT_GE(p.contributions[c - 1].share, part.share);
        }
        total += part.share;
      }
      EXPECT_NEAR(total, 1.0, 1e-9) << s << " " << p.mz;
      // the annotation's first formula is the ion (or isotope peak) giving most
      const EiExplainedIon& top = x->ions[p.contributions.front().ion];
      const int off = p.contributions.front().isotope_offset;
      if (off == 0) {
        EXPECT_TRUE(lists(peaks[k], top.formula)) << s << " " << p.mz;
      }
    }
    for (std::size_t i = 0; i < x->ions.size(); ++i) {
      const EiExplainedIon& ion = x->ions[i];
      double sum = 0.0;
      for (std::size_t f = 0; f < ion.features.size(); ++f) {
        const EiFeatureContribution& c = ion.features[f];
        EXPECT_DOUBLE_EQ(c.contribution, c.weight * c.value);
        if (f > 0) {
          EXPECT_GE(std::abs(ion.features[f - 1].contribution), std::abs(c.contribution));
        }
        sum += c.contribution;
      }
      EXPECT_NEAR(sum, ion.score, 1e-9) << s << " " << ion.formula;
      if (i > 0) {
        EXPECT_GE(x->ions[i - 1].current_share, ion.current_share);
      }
    }
    // the fingerprint network's part is named among the reasons of the strongest ions
    bool network = false;
    for (const EiFeatureContribution& c : x->ions.front().features) network = network || c.name == kEiNetworkFeature;
    EXPECT_TRUE(network) << s;
  }
  // Beyond the network's span (C60, m/z 720) the network would see no
  // molecular ion and make its base of a fragment: the ion model alone
  // predicts, every peak an ion of the molecule's own cuts.
  const std::optional<EiExplanation> c60 = explain_ei_spectrum(
      "c12c3c4c5c1c1c6c7c2c2c8c3c3c9c4c4c%10c5c5c1c1c6c6c%11c7c2c2c7c8c3c3c8c9c4c4c9c%10c5c5c1c1c6c6c%"
      "11c2c2c7c3c3c8c4c4c9c5c1c1c6c2c3c41");
  ASSERT_TRUE(c60.has_value());
  ASSERT_FALSE(c60->peaks.empty());
  EXPECT_EQ(
      std::max_element(c60->peaks.begin(), c60->peaks.end(),
                       [](const EiExplainedPeak& a, const EiExplainedPeak& b) { return a.intensity < b.intensity; })
          ->mz,
      720);
  for (const EiExplainedIon& ion : c60->ions) {
    for (const EiFeatureContribution& c : ion.features) EXPECT_NE(c.name, kEiNetworkFeature) << ion.formula;
  }
  // CCl4: m/z 119 is the isotope peak +2 of CCl3 (one ion per C-Cl bond, in
  // equal shares) and nothing else.
  const std::optional<EiExplanation> x = explain_ei_spectrum("ClC(Cl)(Cl)Cl");
  const auto at = std::find_if(x->peaks.begin(), x->peaks.end(), [](const EiExplainedPeak& p) { return p.mz == 119; });
  ASSERT_NE(at, x->peaks.end());
  ASSERT_EQ(at->contributions.size(), 4u);
  for (const EiContribution& c : at->contributions) {
    EXPECT_EQ(x->ions[c.ion].formula, "CCl3");
    EXPECT_EQ(x->ions[c.ion].neutral, "Cl");
    EXPECT_EQ(c.isotope_offset, 2);
    EXPECT_NEAR(c.share, 0.25, 1e-12);
  }
}

TEST(EiModel, StopDuringTheModelReturnsPromptly) {
  // A long chain keeps the model busy for seconds; a stop asked for while it
  // runs ends the prediction within 0.1 s, naming the step.
  struct Stopped : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> asked{false};
  std::atomic<bool> in_model{false};
  Clock::time_point asked_at;
  std::thread asker([&] {
    for (int k = 0; k < 20000 && !in_model.load(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    asked_at = Clock::now();
    asked.store(true);
  });
  PredictionOptions ei;
  ei.model = Model::ei;
  std::string seen;
  const auto stop = [&](std::string_view step) {
    if (step == kEiStep) in_model.store(true);
    if (asked.load()) {
      seen = step;
      throw Stopped("stopped");
    }
  };
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(predict(std::string(400, 'C'), ei, Analysis::if_needed, stop), Stopped);
  const Clock::time_point end = Clock::now();
  asker.join();
  ASSERT_TRUE(asked.load()) << "the model ended before the stop was asked for";
  EXPECT_EQ(seen, kEiStep);
  EXPECT_LT(std::chrono::duration<double>(end - asked_at).count(), 0.1);
  EXPECT_GT(std::chrono::duration<double>(end - start).count(), 0.2);
}

}  // namespace
}  // namespace tessarin::prediction
