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

TEST(LabelledAtoms, WeighTheirMassNumberAndFollowTheirElementInTheFormula) {
  // CD3OH: 12 + 3 * 2 + 16 + 1; the hydroxyl hydrogen is ordinary.
  auto methanol = with_hydrogens("[2H]C([2H])([2H])O");
  EXPECT_EQ(nominal_mass(*methanol), 35);
  EXPECT_EQ(fragment_formula(*methanol, all_atoms(*methanol)), "CHD3O");
  auto benzene = with_hydrogens("[13cH]1ccccc1");
  EXPECT_EQ(nominal_mass(*benzene), 79);
  EXPECT_EQ(fragment_formula(*benzene, all_atoms(*benzene)), "C5[13C]H6");
  // Hydrogens a labelled carbon carries implicitly, and [1H], are ordinary H.
  auto methane = with_hydrogens("[13CH3][1H]");
  EXPECT_EQ(nominal_mass(*methane), 17);
  EXPECT_EQ(fragment_formula(*methane, all_atoms(*methane)), "[13C]H4");
  // T, Cl, 37Cl, C, 18O, 15N, 2 H: 24 + 2 + 3 + 35 + 37 + 15 + 18.
  auto mixed = with_hydrogens("[3H]C(Cl)([37Cl])C(=[18O])[15NH2]");
  EXPECT_EQ(nominal_mass(*mixed), 134);
  EXPECT_EQ(fragment_formula(*mixed, all_atoms(*mixed)), "C2H2TCl[37Cl][15N][18O]");
  EXPECT_EQ(fragment_formula(*mixed, std::vector<int>{0, 3}), "T[37Cl]");
  EXPECT_EQ(nominal_mass(*mixed, std::vector<int>{0, 3}), 40);
  // A caller's element table weighs only the ordinary atoms (C, C, Cl, H, H).
  std::vector<int> asked;
  const int with_table = nominal_mass(*mixed, all_atoms(*mixed), [&asked](int z) {
    asked.push_back(z);
    return 100;
  });
  EXPECT_EQ(with_table, 5 * 100 + 3 + 37 + 15 + 18);
  EXPECT_EQ(asked.size(), 3u);
  // The label of a dummy atom only tags it.
  auto tagged = with_hydrogens("[13*]C");
  EXPECT_EQ(nominal_mass(*tagged), 15);
  EXPECT_EQ(fragment_formula(*tagged, all_atoms(*tagged)), "CH3*");
}

}  // namespace
}  // namespace tessarin::core
