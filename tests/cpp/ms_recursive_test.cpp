#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/nominal_mass.h"
#include "counts/core_memo.h"
#include "ms/atom_set_cuts.h"
#include "ms/atom_set_softs.h"
#include "ms/recursive_fragments.h"

namespace tessarin::ms {
namespace {

using Pieces = std::vector<std::vector<int>>;

std::unique_ptr<RDKit::ROMol> with_hydrogens(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles));
  RDKit::MolOps::Kekulize(*mol, true);
  return std::unique_ptr<RDKit::ROMol>(RDKit::MolOps::addHs(static_cast<const RDKit::ROMol&>(*mol)));
}

std::vector<int> all_atoms(const RDKit::ROMol& mol) {
  std::vector<int> out(mol.getNumAtoms());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int>(i);
  return out;
}

// One orbital node per atom (node id = atom id) and one bond edge per pair.
MoleculeOrbitals one_node_per_atom(int atoms, const std::vector<std::pair<int, int>>& bonds) {
  std::vector<core::WeightedEdge> edges;
  for (const auto& [a, b] : bonds) edges.push_back({a, b, 1.0});
  MoleculeOrbitals out{counts::IndexGraph(atoms, edges), {}, {}};
  for (int a = 0; a < atoms; ++a) out.atom_nodes.emplace_back(std::vector<int>{a});
  for (std::size_t i = 0; i < bonds.size(); ++i) {
    out.bonds.push_back({bonds[i].first, bonds[i].second, bonds[i].first, bonds[i].second, i, 1});
  }
  return out;
}

// Every atom a is a node pair (2a, 2a+1) joined by an edge, and each bond
// joins the first nodes of its atoms. Every atom set peels away completely
// with or without any bond edge, so every bond is soft inside every atom set
// and the fragmentation is left to the cutting rules alone.
MoleculeOrbitals all_soft_orbitals(const RDKit::ROMol& mol) {
  const int n = static_cast<int>(mol.getNumAtoms());
  std::vector<core::WeightedEdge> edges;
  for (int a = 0; a < n; ++a) edges.push_back({2 * a, 2 * a + 1, 1.0});
  for (const RDKit::Bond* b : mol.bonds()) {
    edges.push_back({2 * static_cast<int>(b->getBeginAtomIdx()), 2 * static_cast<int>(b->getEndAtomIdx()), 0.9});
  }
  MoleculeOrbitals out{counts::IndexGraph(2 * n, edges), {}, {}};
  for (int a = 0; a < n; ++a) out.atom_nodes.emplace_back(std::vector<int>{2 * a, 2 * a + 1});
  for (std::size_t i = static_cast<std::size_t>(n); i < edges.size(); ++i) {
    out.bonds.push_back({edges[i].u / 2, edges[i].v / 2, edges[i].u, edges[i].v, i, 1});
  }
  return out;
}

TEST(CoreMemo, AnswersARepeatedMatrixFromMemoryAndANewOneDensely) {
  const int nodes_a[] = {3, 5, 8};
  const int nodes_b[] = {10, 11, 12};  // other nodes, same matrix
  const counts::MatrixEntry triangle[] = {{1, 0, 1.0}, {2, 0, 1.0}, {2, 1, 1.0}};
  const counts::MatrixEntry lighter[] = {{1, 0, 1.0}, {2, 0, 1.0}, {2, 1, 0.9}};
  counts::MemoCoreCounter memo;
  counts::DenseCoreCounter dense;
  const counts::LpiCounts expected = dense.count({nodes_a, triangle}, 1e-9);
  EXPECT_EQ(expected, (counts::LpiCounts{1, 0, 2}));  // eigenvalues 2, -1, -1
  EXPECT_EQ(memo.count({nodes_a, triangle}, 1e-9), expected);
  EXPECT_EQ(memo.count({nodes_b, triangle}, 1e-9), expected);
  EXPECT_EQ(memo.stats().solves, 1);
  EXPECT_EQ(memo.stats().hits, 1);
  EXPECT_EQ(memo.count({nodes_a, lighter}, 1e-9), dense.count({nodes_a, lighter}, 1e-9));
  // A different threshold is a different question.
  EXPECT_EQ(memo.count({nodes_a, triangle}, 3.0), (counts::LpiCounts{0, 3, 0}));
  EXPECT_EQ(memo.stats().solves, 3);
  EXPECT_EQ(memo.stats().largest_solved, 3);
}

TEST(AtomSetSoftBonds, MeasuresEachBondAgainstTheAtomSetsOwnCounts) {
  // A path of four one-node atoms: (2, 0, 2). Cutting the middle bond leaves
  // two pairs (soft); cutting an end bond leaves a node and a path of three
  // (1, 2, 1). Inside the atoms {0, 1, 2} the end bond 0-1 becomes soft.
  const MoleculeOrbitals path = one_node_per_atom(4, {{0, 1}, {1, 2}, {2, 3}});
  for (SoftTestPath how : {SoftTestPath::fast, SoftTestPath::plain}) {
    AtomSetSoftBonds engine(path, 1e-9, how);
    EXPECT_EQ(engine.soft_bonds(std::vector<int>{0, 1, 2, 3}), (std::vector<std::size_t>{1}));
    EXPECT_EQ(engine.soft_bonds(std::vector<int>{2, 0, 1, 1}), (std::vector<std::size_t>{0, 1}));
    // The pair {0, 1} alone: deleting its bond changes (1, 0, 1) to (0, 2, 0).
    EXPECT_TRUE(engine.soft_bonds(std::vector<int>{0, 1}).empty());
    EXPECT_TRUE(engine.soft_bonds(std::vector<int>{2}).empty());
    EXPECT_TRUE(engine.soft_bonds(std::vector<int>{}).empty());
    EXPECT_EQ(engine.stats().atom_sets, 5);
    // One baseline per set and one test per bond inside it, counted or judged by isolation.
    EXPECT_EQ(engine.stats().counts + engine.stats().isolated, 5 + 3 + 2 + 1);
  }
}

TEST(AtomSetSoftBonds, TestsOnlyRecordsWhoseNodesBelongToTheAtomSet) {
  MoleculeOrbitals path = one_node_per_atom(4, {{0, 1}, {1, 2}, {2, 3}});
  // Record 1 claims atoms 0 and 1 but names the edge of atoms 1 and 2;
  // record 2 names no edge at all.
  path.bonds[1].atom_u = 0;
  path.bonds[2].edge.reset();
  AtomSetSoftBonds engine(path, 1e-9);
  EXPECT_TRUE(engine.soft_bonds(std::vector<int>{0, 1}).empty());
  EXPECT_EQ(engine.soft_bonds(std::vector<int>{0, 1, 2, 3}), (std::vector<std::size_t>{1}));
  EXPECT_EQ(engine.stats().counts + engine.stats().isolated, 1 + 1 + 1 + 2);

  path.atom_nodes[3].reset();
  AtomSetSoftBonds missing(path, 1e-9);
  EXPECT_THROW(missing.soft_bonds(std::vector<int>{0, 3}), MissingKey);
  EXPECT_THROW(missing.soft_bonds(std::vector<int>{0, 4}), IndexOutOfRange);
  EXPECT_THROW(missing.soft_bonds(std::vector<int>{-1}), IndexOutOfRange);
  EXPECT_THROW(AtomSetSoftBonds(path, std::nan("")), InvalidInput);
}

TEST(AtomSetSoftBonds, FastAndPlainPathsAgreeOnRandomAtomSets) {
  // Atoms of 1, 4 or 9 nodes (sigma cliques), bonded in a random tree with a
  // few ring closures; weights 0.9 or random.
  std::mt19937 rng(7011);
  long long peeled = 0, hits = 0, checked = 0;
  for (int trial = 0; trial < 150; ++trial) {
    const int atoms = std::uniform_int_distribution<int>(2, 16)(rng);
    std::vector<core::WeightedEdge> edges;
    std::vector<std::optional<std::vector<int>>> atom_nodes;
    int n = 0;
    for (int a = 0; a < atoms; ++a) {
      const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
      const int size = pick < 5 ? 1 : pick < 9 ? 4 : 9;
      std::vector<int> own;
      for (int i = 0; i < size; ++i) own.push_back(n + i);
      for (int i = 0; i < size; ++i)
        for (int j = i + 1; j < size - 1; ++j) edges.push_back({n + i, n + j, 1.0});
      atom_nodes.emplace_back(own);
      n += size;
    }
    std::uniform_real_distribution<double> weight(0.3, 1.5);
    std::vector<OrbitalBond> bonds;
    auto bond = [&](int a, int b) {
      const auto& na = *atom_nodes[static_cast<std::size_t>(a)];
      const auto& nb = *atom_nodes[static_cast<std::size_t>(b)];
      const int u = na[std::uniform_int_distribution<std::size_t>(0, na.size() - 1)(rng)];
      const int v = nb[std::uniform_int_distribution<std::size_t>(0, nb.size() - 1)(rng)];
      for (const core::WeightedEdge& e : edges)
        if ((e.u == u && e.v == v) || (e.u == v && e.v == u)) return;
      bonds.push_back({a, b, u, v, edges.size(), 1});
      edges.push_back({u, v, trial % 2 ? weight(rng) : 0.9});
    };
    for (int a = 1; a < atoms; ++a) bond(std::uniform_int_distribution<int>(0, a - 1)(rng), a);
    for (int c = 0; c < 3; ++c) {
      const int a = std::uniform_int_distribution<int>(0, atoms - 1)(rng);
      const int b = std::uniform_int_distribution<int>(0, atoms - 1)(rng);
      if (a != b) bond(a, b);
    }
    const MoleculeOrbitals orbitals{counts::IndexGraph(n, edges), atom_nodes, bonds};
    AtomSetSoftBonds fast(orbitals, 1e-9, SoftTestPath::fast);
    AtomSetSoftBonds plain(orbitals, 1e-9, SoftTestPath::plain);
    for (int s = 0; s < 12; ++s) {
      std::vector<int> set;
      for (int a = 0; a < atoms; ++a)
        if (s == 0 || std::uniform_int_distribution<int>(0, 2)(rng) > 0) set.push_back(a);
      ASSERT_EQ(fast.soft_bonds(set), plain.soft_bonds(set)) << "trial " << trial << " set " << s;
      ++checked;
    }
    peeled += fast.stats().peeled_away;
    hits += fast.stats().memo_hits;
    EXPECT_EQ(plain.stats().memo_hits + plain.stats().peeled_away, plain.stats().counts - plain.stats().dense_counts);
  }
  EXPECT_EQ(checked, 150 * 12);
  EXPECT_GT(peeled, 0);  // the fast path really took its shortcuts
  EXPECT_GT(hits, 0);
}

TEST(CutAtomSet, SingleCutsFollowTheMultipleBondRule) {
  const auto methanol = with_hydrogens("CO");  // C0 O1, H2-H4 on C, H5 on O
  const std::vector<int> all = all_atoms(*methanol);
  EXPECT_EQ(cut_atom_set(*methanol, all, std::vector<SoftBond>{{0, 1, {}, {}, 1}}, false, 25.0),
            (Pieces{{0, 2, 3, 4}, {1, 5}}));
  // A C-H bond gives the lone hydrogen as a piece.
  EXPECT_EQ(cut_atom_set(*methanol, all, std::vector<SoftBond>{{0, 2, {}, {}, 1}}, false, 25.0),
            (Pieces{{0, 1, 3, 4, 5}, {2}}));
  EXPECT_TRUE(cut_atom_set(*methanol, all, {}, true, 0.0).empty());
  EXPECT_TRUE(
      cut_atom_set(*methanol, std::vector<int>{0}, std::vector<SoftBond>{{0, 1, {}, {}, 1}}, true, 0.0).empty());
  // Records outside the set, or naming atoms the molecule lacks, are not cuts.
  EXPECT_TRUE(cut_atom_set(*methanol, std::vector<int>{0, 2},
                           std::vector<SoftBond>{{0, 1, {}, {}, 1}, {0, 99, {}, {}, 1}, {-5, 0, {}, {}, 1}}, false, 0.0)
                  .empty());

  const auto acetone = with_hydrogens("CC(C)=O");  // C1=O3
  const std::vector<int> ketone = all_atoms(*acetone);
  EXPECT_TRUE(cut_atom_set(*acetone, ketone, std::vector<SoftBond>{{1, 3, {}, {}, 2}}, true, 0.0).empty());
  // Two records of one pair make one cut, and the higher order decides.
  EXPECT_TRUE(
      cut_atom_set(*acetone, ketone, std::vector<SoftBond>{{1, 3, {}, {}, 1}, {3, 1, {}, {}, 2}}, true, 0.0).empty());
  EXPECT_EQ(
      cut_atom_set(*acetone, ketone, std::vector<SoftBond>{{3, 1, {}, {}, 1}, {1, 3, {}, {}, 1}}, true, 0.0).size(),
      2U);
  // Without hydrogens on the set, the C-C bond still splits off one methyl carbon.
  EXPECT_EQ(cut_atom_set(*acetone, std::vector<int>{0, 1, 2, 3}, std::vector<SoftBond>{{0, 1, {}, {}, 1}}, true, 0.0),
            (Pieces{{0}, {1, 2, 3}}));
}

TEST(CutAtomSet, RingDoubleCutsAreHeldToTheAverageMassFloorInclusively) {
  const auto cyclohexane = with_hydrogens("C1CCCCC1");
  const std::vector<int> all = all_atoms(*cyclohexane);
  const SoftBond ring[] = {{0, 1, {}, {}, 1}, {3, 4, {}, {}, 1}};  // opens into C1-C3 and C4-C0, three CH2 each
  EXPECT_TRUE(cut_atom_set(*cyclohexane, all, std::span(ring, 1), true, 0.0).empty());
  EXPECT_TRUE(cut_atom_set(*cyclohexane, all, ring, false, 0.0).empty());
  const Pieces opened = cut_atom_set(*cyclohexane, all, ring, true, 0.0);
  ASSERT_EQ(opened.size(), 2U);
  const double lighter =
      std::min(core::average_mass(*cyclohexane, opened[0]), core::average_mass(*cyclohexane, opened[1]));
  EXPECT_EQ(cut_atom_set(*cyclohexane, all, ring, true, lighter), opened);
  EXPECT_TRUE(cut_atom_set(*cyclohexane, all, ring, true, std::nextafter(lighter, 100.0)).empty());
  EXPECT_THROW(cut_atom_set(*cyclohexane, all, ring, true, std::nan("")), InvalidInput);
  EXPECT_THROW(cut_atom_set(*cyclohexane, std::vector<int>{0, 18}, ring, true, 0.0), IndexOutOfRange);

  // Bonds of two different rings leave one piece: nothing.
  const auto bicyclohexyl = with_hydrogens("C1CCCCC1C1CCCCC1");
  const SoftBond two_rings[] = {{0, 1, {}, {}, 1}, {7, 8, {}, {}, 1}};
  EXPECT_TRUE(cut_atom_set(*bicyclohexyl, all_atoms(*bicyclohexyl), two_rings, true, 0.0).empty());
}

TEST(CutAtomSet, JudgesACutWithinThePartOfTheAtomSetThatHoldsIt) {
  // Cyclohexane and ethane without hydrogens: the chain bond splits ethane,
  // the ring bond alone splits nothing, and bonds of different parts are no
  // double cut.
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("C1CCCCC1.CC"));
  const std::vector<int> all = all_atoms(*mol);
  EXPECT_EQ(cut_atom_set(*mol, all, std::vector<SoftBond>{{6, 7, {}, {}, 1}, {0, 1, {}, {}, 1}}, false, 0.0),
            (Pieces{{6}, {7}}));
  EXPECT_EQ(cut_atom_set(*mol, all, std::vector<SoftBond>{{0, 1, {}, {}, 1}, {6, 7, {}, {}, 1}}, true, 0.0),
            (Pieces{{6}, {7}}));
  EXPECT_EQ(cut_atom_set(*mol, all, std::vector<SoftBond>{{0, 1, {}, {}, 1}, {2, 3, {}, {}, 1}}, true, 0.0),
            (Pieces{{0, 3, 4, 5}, {1, 2}}));
}

TEST(RecursiveFragments, GoesBreadthFirstAndKeepsTheFirstPieceOfEachMz) {
  // O0 C1 C2 N3 without hydrogens, every bond soft everywhere.
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol("OCCN"));
  const MoleculeOrbitals orbitals = all_soft_orbitals(*mol);
  RecursiveOptions one;
  one.max_generations = 1;
  // Children of the ion in ascending order of their atoms:
  // {0} O, {0,1} CO, {0,1,2} C2O, {1,2,3} C2N, {2,3} CN, {3} N.
  const std::vector<GenerationPeak> first = predict_fragments_recursive(*mol, orbitals, one);
  EXPECT_EQ(
      first,
      (std::vector<GenerationPeak>{
          {54, "C2NO", 0}, {16, "O", 1}, {28, "CO", 1}, {40, "C2O", 1}, {38, "C2N", 1}, {26, "CN", 1}, {14, "N", 1}}));

  RecursiveOptions two = one;
  two.max_generations = 2;
  SoftTestStats stats;
  const std::vector<GenerationPeak> second = predict_fragments_recursive(*mol, orbitals, two, &stats);
  ASSERT_EQ(second.size(), first.size() + 2);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), second.begin()));
  // Only generation 2 reaches C (from {0,1}) and C2 (from {0,1,2}); CO found
  // again at generation 2 keeps generation 1.
  EXPECT_EQ(second[7], (GenerationPeak{12, "C", 2}));
  EXPECT_EQ(second[8], (GenerationPeak{24, "C2", 2}));
  // The ion and its six pieces are expanded, each once; pieces of the last
  // generation are not.
  EXPECT_EQ(stats.atom_sets, 7);

  RecursiveOptions none = one;
  none.max_generations = 0;
  EXPECT_EQ(predict_fragments_recursive(*mol, orbitals, none, &stats), (std::vector<GenerationPeak>{{54, "C2NO", 0}}));
  EXPECT_EQ(stats.counts, 0);
}

TEST(RecursiveFragments, StopsWhereNoBondIsSoftAndLetsThePollAbandonTheRun) {
  const auto ethanol = with_hydrogens("CCO");
  MoleculeOrbitals orbitals = all_soft_orbitals(*ethanol);
  for (OrbitalBond& b : orbitals.bonds) b.edge.reset();  // no record names an edge
  EXPECT_EQ(predict_fragments_recursive(*ethanol, orbitals, {}), (std::vector<GenerationPeak>{{46, "C2H6O", 0}}));

  int polls = 0;
  auto stop_on_second = [&polls] {
    if (++polls == 2) throw InvalidInput("stop");
  };
  EXPECT_THROW(predict_fragments_recursive(*ethanol, all_soft_orbitals(*ethanol), {}, nullptr, stop_on_second),
               InvalidInput);
  orbitals.atom_nodes[2].reset();
  orbitals.bonds = all_soft_orbitals(*ethanol).bonds;
  EXPECT_THROW(predict_fragments_recursive(*ethanol, orbitals, {}), MissingKey);
}

}  // namespace
}  // namespace tessarin::ms
