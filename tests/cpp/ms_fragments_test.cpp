#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/errors.h"
#include "core/nominal_mass.h"
#include "ms/atom_cuts.h"
#include "ms/fragments.h"

namespace tessarin::ms {
namespace {

std::unique_ptr<RDKit::ROMol> with_hydrogens(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles));
  RDKit::MolOps::Kekulize(*mol, true);
  return std::unique_ptr<RDKit::ROMol>(RDKit::MolOps::addHs(static_cast<const RDKit::ROMol&>(*mol)));
}

SoftBond soft(const RDKit::ROMol& mol, int u, int v, std::optional<int> order = 1) {
  return {u, v, mol.getAtomWithIdx(u)->getSymbol(), mol.getAtomWithIdx(v)->getSymbol(), order};
}

std::vector<int> mzs(const FragmentEntry& e) {
  std::vector<int> out;
  for (const FragmentTuple& f : *e.fragments) out.push_back(f.mz);
  return out;
}

TEST(AtomCuts, JudgesEachCutWithinTheConnectedPartHoldingIt) {
  // Cyclohexane (atoms 0-5) and ethane (6-7) as one input, hydrogens left out.
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("C1CCCCC1.CC"));
  AtomGraph graph(*mol);
  const AtomPair ring_bond{0, 1};
  const AtomPair chain_bond{6, 7};
  Cut ring = graph.cut(std::span(&ring_bond, 1));
  EXPECT_TRUE(ring.same_part);
  EXPECT_EQ(ring.piece_count, 1);
  EXPECT_FALSE(ring.split());
  Cut chain = graph.cut(std::span(&chain_bond, 1));
  ASSERT_TRUE(chain.split());
  EXPECT_EQ(chain.pieces[0], std::vector<int>{6});
  EXPECT_EQ(chain.pieces[1], std::vector<int>{7});
  const AtomPair opposite[] = {{2, 3}, {0, 5}};
  Cut opened = graph.cut(opposite);
  ASSERT_TRUE(opened.split());
  EXPECT_EQ(opened.pieces[0], (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(opened.pieces[1], (std::vector<int>{3, 4, 5}));
  const AtomPair across[] = {{0, 1}, {6, 7}};
  EXPECT_FALSE(graph.cut(across).same_part);
  const AtomPair not_bonded{0, 3};
  EXPECT_THROW(graph.cut(std::span(&not_bonded, 1)), InvalidInput);
}

TEST(AtomCuts, BorderedPiecesAreThoseEveryCutBondBorders) {
  // Cyclopentyl on a propyl chain (atoms 0-7), and ethane (8-9) beside it.
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("CCCC1CCCC1.CC"));
  AtomGraph graph(*mol);
  using Pieces = std::vector<std::vector<int>>;
  const AtomPair bridge{1, 2};
  EXPECT_EQ(graph.bordered_pieces(std::span(&bridge, 1)), (Pieces{{0, 1}, {2, 3, 4, 5, 6, 7}}));
  const AtomPair ring_bond{4, 5};
  EXPECT_EQ(graph.bordered_pieces(std::span(&ring_bond, 1)), Pieces{});
  const AtomPair chain[] = {{2, 3}, {0, 1}};  // the piece between them
  EXPECT_EQ(graph.bordered_pieces(chain), (Pieces{{1, 2}}));
  const AtomPair ring[] = {{3, 4}, {5, 6}};  // both sides of the opened ring
  EXPECT_EQ(graph.bordered_pieces(ring), (Pieces{{0, 1, 2, 3, 6, 7}, {4, 5}}));
  const AtomPair mixed[] = {{1, 2}, {4, 5}};  // a bridge and a ring bond border no piece together
  EXPECT_EQ(graph.bordered_pieces(mixed), Pieces{});
  const AtomPair across[] = {{1, 2}, {8, 9}};
  EXPECT_EQ(graph.bordered_pieces(across), Pieces{});
  // cut() still sees the three pieces of two bridges as no split
  EXPECT_FALSE(graph.cut(chain).split());
  EXPECT_EQ(graph.cut(chain).piece_count, 3);
}

TEST(AtomCuts, WorkOnAnAtomSubsetAsItsOwnGraph) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("C1CCCCC1"));
  const int chain[] = {4, 1, 2, 3, 3};  // the ring without atoms 0 and 5: a 4-atom chain
  AtomGraph graph(*mol, chain);
  EXPECT_EQ(graph.atoms(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FALSE(graph.has_bond(0, 1));
  EXPECT_FALSE(graph.contains(0));
  const AtomPair middle{2, 3};
  Cut cut = graph.cut(std::span(&middle, 1));
  ASSERT_TRUE(cut.split());
  EXPECT_EQ(cut.pieces[0], (std::vector<int>{1, 2}));
  const int outside[] = {6};
  EXPECT_THROW(AtomGraph(*mol, outside), IndexOutOfRange);
}

TEST(PredictFragments, CutsChainBondsIntoTwoPiecesLargestFirst) {
  auto ethanol = with_hydrogens("CCO");
  const SoftBond co[] = {soft(*ethanol, 1, 2)};
  const auto entries = predict_fragments(*ethanol, co, false, 30);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].bond, "C1-O2");
  EXPECT_TRUE(entries[0].split);
  EXPECT_EQ(entries[0].mode, CutMode::single);
  EXPECT_EQ(*entries[0].fragments, (std::vector<FragmentTuple>{{"C2H5", 29.06, 29}, {"HO", 17.01, 17}}));

  // The label keeps the record's own order and symbols.
  const SoftBond oc[] = {{2, 1, "O", "C", 1}};
  EXPECT_EQ(predict_fragments(*ethanol, oc, false, 30)[0].bond, "O2-C1");

  auto nitrobenzene = with_hydrogens("c1ccc(cc1)[N+](=O)[O-]");
  const SoftBond cn[] = {soft(*nitrobenzene, 3, 6)};
  const auto nb = predict_fragments(*nitrobenzene, cn, false, 30);
  EXPECT_EQ((*nb[0].fragments)[0].formula, "C6H5");
  EXPECT_EQ(mzs(nb[0]), (std::vector<int>{77, 46}));

  auto oxime = with_hydrogens("CC(=NO)C");
  const SoftBond no[] = {soft(*oxime, 2, 3)};
  const auto ox = predict_fragments(*oxime, no, false, 30);
  EXPECT_EQ((*ox[0].fragments)[0].formula, "C3H6N");
  EXPECT_EQ(mzs(ox[0]), (std::vector<int>{56, 17}));

  // A C-H bond has no floor: M-1 and 1.
  const SoftBond ch[] = {soft(*ethanol, 0, 3)};
  EXPECT_EQ(mzs(predict_fragments(*ethanol, ch, false, 30)[0]), (std::vector<int>{45, 1}));
}

TEST(PredictFragments, LeavesMultipleBondsOnALoneHeavyAtomAndReadsEachPairOnce) {
  auto acetone = with_hydrogens("CC(=O)C");
  // The carbonyl (order 2) is not cut: no entry at all, and no ring pair.
  const SoftBond carbonyl[] = {soft(*acetone, 1, 2, 2)};
  EXPECT_TRUE(predict_fragments(*acetone, carbonyl, true, 30).empty());
  // The same single bond recorded three ways gives one entry, from the first record.
  const SoftBond repeated[] = {soft(*acetone, 0, 1), soft(*acetone, 1, 0), {0, 1, "X", "Y", 3}};
  const auto entries = predict_fragments(*acetone, repeated, false, 30);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].bond, "C0-C1");
  // A lone heavy atom on a single bond is cut (methanol's C-O gives HO and CH3).
  auto methanol = with_hydrogens("CO");
  const SoftBond co[] = {soft(*methanol, 0, 1)};
  EXPECT_EQ(mzs(predict_fragments(*methanol, co, false, 30)[0]), (std::vector<int>{17, 15}));
  // Pairs that are not bonded are skipped; order is needed only to split.
  const SoftBond unbonded[] = {soft(*acetone, 0, 3, std::nullopt)};
  EXPECT_TRUE(predict_fragments(*acetone, unbonded, false, 30).empty());
  const SoftBond no_order[] = {soft(*acetone, 0, 1, std::nullopt)};
  EXPECT_THROW(predict_fragments(*acetone, no_order, false, 30), MissingKey);
  const SoftBond outside[] = {{0, 99, "C", "C", 1}};
  EXPECT_THROW(predict_fragments(*acetone, outside, false, 30), IndexOutOfRange);
  EXPECT_THROW(predict_fragments(*acetone, repeated, false, std::nan("")), InvalidInput);
}

TEST(PredictFragments, RingDoubleCutsKeepTheFloorAndReportEachMzPairOnce) {
  // Tetrahydrofuran C1CCOC1: O3 and C4 together are CH2O (30), the rest C3H6 (42).
  auto thf = with_hydrogens("C1CCOC1");
  const SoftBond ring[] = {soft(*thf, 2, 3, std::nullopt), soft(*thf, 3, 4, std::nullopt),
                           soft(*thf, 4, 0, std::nullopt)};
  auto single_only = predict_fragments(*thf, ring, false, 30);
  ASSERT_EQ(single_only.size(), 3u);
  for (const FragmentEntry& e : single_only) {
    EXPECT_FALSE(e.split);
    EXPECT_FALSE(e.fragments.has_value());
  }
  auto with_rings = predict_fragments(*thf, ring, true, 30);
  // 2-3 with 3-4 frees O alone (16): below the floor. 2-3 with 4-0 gives 30 + 42: at the floor, kept.
  // 3-4 with 4-0 frees CH2 (14): dropped.
  ASSERT_EQ(with_rings.size(), 4u);
  EXPECT_EQ(with_rings[3].bond, "C2-O3 + C0-C4");
  EXPECT_EQ(with_rings[3].mode, CutMode::ring);
  EXPECT_EQ(mzs(with_rings[3]), (std::vector<int>{42, 30}));
  EXPECT_EQ((*with_rings[3].fragments)[1].formula, "CH2O");
  EXPECT_EQ(predict_fragments(*thf, ring, true, 31).size(), 3u);

  // Cyclohexane: three different cuts give C3H6 + C3H6 (42, 42); reported once.
  auto cyclohexane = with_hydrogens("C1CCCCC1");
  std::vector<SoftBond> bonds;
  for (int i = 0; i < 6; ++i) bonds.push_back(soft(*cyclohexane, i, (i + 1) % 6));
  auto entries = predict_fragments(*cyclohexane, bonds, true, 30);
  std::vector<std::string> ring_labels;
  for (const FragmentEntry& e : entries)
    if (e.mode == CutMode::ring) ring_labels.push_back(e.bond);
  // 0-1 with 3-4 is the first (42, 42) cut; (28, 56) cuts fall below 30.
  EXPECT_EQ(ring_labels, std::vector<std::string>{"C0-C1 + C3-C4"});
}

TEST(PredictFragments, KeepsEqualMzPiecesInOrderOfTheirSmallestAtom) {
  // Propanal's C1-C2 cut gives C2H5 and CHO, both m/z 29.
  for (const auto& [smiles, u, v, first] : {std::tuple{"CCC=O", 1, 2, "C2H5"}, std::tuple{"O=CCC", 1, 2, "CHO"}}) {
    auto mol = with_hydrogens(smiles);
    const SoftBond cut[] = {soft(*mol, u, v)};
    const auto frags = *predict_fragments(*mol, cut, false, 30)[0].fragments;
    EXPECT_EQ(mzs(predict_fragments(*mol, cut, false, 30)[0]), (std::vector<int>{29, 29}));
    EXPECT_EQ(frags[0].formula, first) << smiles;
  }
}

TEST(PredictFragments, TreatsEachDisconnectedPartOnItsOwn) {
  // Hydrazine beside a boroxine-like ring pair: the N-N bond splits its own
  // part, a B-O ring bond does not split anything.
  std::unique_ptr<RDKit::RWMol> parsed(RDKit::SmilesToMol("NN.OB1OB(O1)OB2OB(O)O2"));
  std::unique_ptr<RDKit::ROMol> mol(RDKit::MolOps::addHs(static_cast<const RDKit::ROMol&>(*parsed)));
  ASSERT_EQ(mol->getAtomWithIdx(3)->getSymbol(), "B");
  const SoftBond softs[] = {soft(*mol, 0, 1), soft(*mol, 3, 4)};
  const auto entries = predict_fragments(*mol, softs, false, 30);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].split);
  EXPECT_EQ(*entries[0].fragments, (std::vector<FragmentTuple>{{"H2N", 16.02, 16}, {"H2N", 16.02, 16}}));
  EXPECT_FALSE(entries[1].split);
  // Ring bonds of different parts never pair up, though cutting both leaves two parts.
  auto two_rings = with_hydrogens("C1CCCCC1.C1CCCCC1");
  const SoftBond one_each[] = {soft(*two_rings, 0, 1), soft(*two_rings, 6, 7)};
  const auto pair = predict_fragments(*two_rings, one_each, true, 30);
  ASSERT_EQ(pair.size(), 2u);
  for (const FragmentEntry& e : pair) EXPECT_FALSE(e.split);
}

}  // namespace
}  // namespace tessarin::ms

namespace tessarin::ms {
namespace {

TEST(PieceTuples, EqualTheOnePieceFunctionsOnEverySubsetTried) {
  std::mt19937 rng(9);
  for (const char* smiles : {"CC(=O)Cl", "BrC1=CC=C(C=C1)S(=O)(=O)N", "[Na+].[Cl-]", "OC(F)(F)C(I)CC#N",
                             "[2H]C([2H])(Cl)[13C](=[18O])[37Cl]", "[13cH]1cc([1H])ccc1"}) {
    const std::unique_ptr<RDKit::ROMol> mol = with_hydrogens(smiles);
    const PieceTuples tuples(*mol);
    std::vector<int> all(mol->getNumAtoms());
    std::iota(all.begin(), all.end(), 0);
    for (int trial = 0; trial < 40; ++trial) {
      std::shuffle(all.begin(), all.end(), rng);
      const std::span<const int> piece(all.data(), static_cast<std::size_t>(trial) % all.size() + 1);
      EXPECT_EQ(tuples.tuple(piece), fragment_tuple(*mol, piece)) << smiles;
      EXPECT_EQ(tuples.heavy_atoms(piece), heavy_atom_count(*mol, piece));
      EXPECT_EQ(tuples.average_mass(piece), core::average_mass(*mol, piece));  // same sum, same bits
    }
    const std::vector<int> outside{0, static_cast<int>(mol->getNumAtoms())};
    EXPECT_THROW(tuples.tuple(outside), IndexOutOfRange);
  }
}

}  // namespace
}  // namespace tessarin::ms
