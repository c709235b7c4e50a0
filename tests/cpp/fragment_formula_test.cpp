#include "core/fragment_formula.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "core/errors.h"
#include "core/nominal_mass.h"

namespace tessarin::core {
namespace {

std::unique_ptr<RDKit::ROMol> with_hydrogens(const std::string& smiles) {
  std::unique_ptr<RDKit::ROMol> mol(RDKit::SmilesToMol(smiles));
  return std::unique_ptr<RDKit::ROMol>(RDKit::MolOps::addHs(*mol));
}

std::vector<int> all_atoms(const RDKit::ROMol& mol) {
  std::vector<int> idx(mol.getNumAtoms());
  std::iota(idx.begin(), idx.end(), 0);
  return idx;
}

TEST(FragmentFormula, PutsCarbonThenHydrogenThenTheRestInCodePointOrder) {
  auto methane = with_hydrogens("C");
  EXPECT_EQ(fragment_formula(*methane, all_atoms(*methane)), "CH4");
  EXPECT_EQ(fragment_formula(*methane, std::vector<int>{0}), "C");
  EXPECT_EQ(fragment_formula(*methane, std::vector<int>{}), "");

  auto water = with_hydrogens("O");
  EXPECT_EQ(fragment_formula(*water, all_atoms(*water)), "H2O");
  auto hcl = with_hydrogens("Cl");
  EXPECT_EQ(fragment_formula(*hcl, all_atoms(*hcl)), "HCl");
  EXPECT_EQ(fragment_formula(*hcl, std::vector<int>{0}), "Cl");

  auto nitrobenzene = with_hydrogens("c1ccc(cc1)[N+](=O)[O-]");
  EXPECT_EQ(fragment_formula(*nitrobenzene, all_atoms(*nitrobenzene)), "C6H5NO2");
  auto chloroform = with_hydrogens("C(Cl)(Cl)Cl");
  EXPECT_EQ(fragment_formula(*chloroform, all_atoms(*chloroform)), "CHCl3");
  auto cf4 = with_hydrogens("C(F)(F)(F)F");
  EXPECT_EQ(fragment_formula(*cf4, std::vector<int>{0, 1, 2, 3}), "CF3");

  auto mixed = with_hydrogens("[Na+].[O-]C(=O)CBr");
  EXPECT_EQ(fragment_formula(*mixed, all_atoms(*mixed)), "C2H2BrNaO2");
  // An index given twice counts twice.
  EXPECT_EQ(fragment_formula(*methane, std::vector<int>{1, 1}), "H2");
}

TEST(FragmentFormula, RejectsIndicesOutsideTheMolecule) {
  auto methane = with_hydrogens("C");
  EXPECT_THROW(fragment_formula(*methane, std::vector<int>{5}), IndexOutOfRange);
  EXPECT_THROW(fragment_formula(*methane, std::vector<int>{-1}), IndexOutOfRange);
  EXPECT_THROW(pair_label(*methane, 0, 9), IndexOutOfRange);
}

TEST(PairLabel, KeepsTheGivenOrder) {
  std::unique_ptr<RDKit::ROMol> ethanol(RDKit::SmilesToMol("CCO"));
  EXPECT_EQ(pair_label(*ethanol, 0, 1), "C0-C1");
  EXPECT_EQ(pair_label(*ethanol, 2, 1), "O2-C1");
  EXPECT_EQ(pair_label("C", 0, "Cl", 4), "C0-Cl4");
}

TEST(NominalMass, SumsMostCommonIsotopesOfTheGivenAtoms) {
  auto methane = with_hydrogens("C");
  EXPECT_EQ(nominal_mass(*methane, all_atoms(*methane)), 16);
  EXPECT_EQ(nominal_mass(*methane), 16);
  EXPECT_EQ(nominal_mass(*methane, std::vector<int>{}), 0);
  std::unique_ptr<RDKit::ROMol> bare(RDKit::SmilesToMol("C"));
  EXPECT_EQ(nominal_mass(*bare), 12);
  auto chloromethane = with_hydrogens("CCl");
  EXPECT_EQ(nominal_mass(*chloromethane), 50);
  auto cf4 = with_hydrogens("C(F)(F)(F)F");
  EXPECT_EQ(nominal_mass(*cf4, std::vector<int>{0, 1, 2, 3}), 69);
  EXPECT_NEAR(average_mass(*chloromethane, all_atoms(*chloromethane)), 50.488, 1e-3);
  EXPECT_THROW(nominal_mass(*methane, std::vector<int>{7}), IndexOutOfRange);
}

}  // namespace
}  // namespace tessarin::core
