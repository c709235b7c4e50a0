#include "prediction/fingerprint_network.h"

#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "molecule/prepare_molecule.h"

namespace tessarin::prediction {
namespace {

std::vector<std::string> nci_smiles(std::size_t count) {
  std::ifstream in("/usr/share/RDKit/Data/NCI/first_5K.smi");
  std::vector<std::string> out;
  std::string line;
  while (out.size() < count && std::getline(in, line)) {
    std::istringstream fields(line);
    std::string smiles;
    if (fields >> smiles) out.push_back(smiles);
  }
  return out;
}

// The engine's EI model reads the prepared molecule (kekulised, every
// hydrogen an atom); the network was fitted on the fingerprint of the
// molecule as RDKit reads the SMILES. Both must give the same environments.
TEST(FingerprintNetwork, PreparedMoleculeGivesTheFingerprintOfTheSmiles) {
  std::vector<std::string> smiles = nci_smiles(400);
  ASSERT_EQ(smiles.size(), 400u);
  for (const char* s : {"c1ccc2[nH]ccc2c1", "O=[N+]([O-])c1ccc(O)cc1", "[2H]C([2H])([2H])O", "C[S@@](=O)c1ccccc1",
                        "OC(=O)C[C@H](N)C(=O)O", "c1ccncc1", "Cn1cnc2c1c(=O)n(C)c(=O)n2C", "ClC(Cl)(Cl)Cl"}) {
    smiles.emplace_back(s);
  }
  std::size_t compared = 0;
  for (const std::string& s : smiles) {
    const std::unique_ptr<RDKit::ROMol> plain(RDKit::SmilesToMol(s));
    if (!plain) continue;  // RDKit will not sanitise it: nothing to compare with
    const std::unique_ptr<RDKit::ROMol> prepared = molecule::prepare_molecule(s);
    ASSERT_TRUE(prepared) << s;
    EXPECT_EQ(fingerprint_counts(*fingerprint_molecule(*prepared)), fingerprint_counts(*plain)) << s;
    EXPECT_EQ(fingerprint_counts(*fingerprint_molecule(*plain)), fingerprint_counts(*plain)) << s;
    ++compared;
  }
  EXPECT_GT(compared, 390u);
}

TEST(FingerprintNetwork, OutputsStopAboveTheMolecularMassAndHaveNoNegativeValues) {
  const FingerprintNetworkShape shape = fingerprint_network_shape();
  const std::unique_ptr<RDKit::ROMol> mol(RDKit::SmilesToMol("CCOC(=O)c1ccccc1"));
  const NetworkSpectrum s = fingerprint_network(*mol, 150);
  ASSERT_EQ(s.mixed.size(), static_cast<std::size_t>(150 + shape.above_mass + 1));
  ASSERT_EQ(s.forward.size(), s.mixed.size());
  ASSERT_EQ(s.reverse.size(), s.mixed.size());
  double top = 0;
  for (std::size_t mz = 0; mz < s.mixed.size(); ++mz) {
    EXPECT_GE(s.mixed[mz], 0.0);
    EXPECT_GE(s.forward[mz], 0.0);
    EXPECT_GE(s.reverse[mz], 0.0);
    if (mz > 150) {
      EXPECT_EQ(s.reverse[mz], 0.0) << "a loss below zero at m/z " << mz;
    }
    top = std::max(top, s.mixed[mz]);
  }
  EXPECT_GT(top, 0.0);
  // A heavy molecule is cut at the end of the heads; a negative mass has no spectrum.
  EXPECT_EQ(fingerprint_network(*mol, 5000).mixed.size(), static_cast<std::size_t>(shape.span));
  EXPECT_TRUE(fingerprint_network(*mol, -1).mixed.empty());
  // Environments outside the vocabulary count nothing.
  FingerprintCounts counts = fingerprint_counts(*mol);
  const NetworkSpectrum own = fingerprint_network(counts, 150);
  counts.emplace_back(0xFFFFFFFFu, 3);
  EXPECT_EQ(fingerprint_network(counts, 150).mixed, own.mixed);
  EXPECT_EQ(own.mixed, s.mixed);
}

}  // namespace
}  // namespace tessarin::prediction
