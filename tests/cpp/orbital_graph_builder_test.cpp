#include "vif/orbital_graph_builder.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "core/errors.h"
#include "molecule/prepare_molecule.h"

namespace tessarin::vif {
namespace {

using layout::Point2;

// Distinct, well separated atom centres; the allocation does not depend on them.
std::vector<Point2> spread_centres(const RDKit::ROMol& mol) {
  std::vector<Point2> c;
  for (unsigned i = 0; i < mol.getNumAtoms(); ++i) c.push_back({1.5 * i, 0.37 * i * i});
  return c;
}

VifGraph graph_of(const std::string& smiles, const std::vector<Point2>* centres = nullptr) {
  auto mol = molecule::prepare_molecule(smiles);
  const std::vector<Point2> c = centres ? *centres : spread_centres(*mol);
  return build_vif_graph(*mol, c, build_bond_orders(*mol), GraphParams{});
}

TEST(BondOrders, RoundHalfToEvenWithAFloorOfOne) {
  EXPECT_EQ(integer_bond_order(0.0), 1);
  EXPECT_EQ(integer_bond_order(1.0), 1);
  EXPECT_EQ(integer_bond_order(1.5), 2);
  EXPECT_EQ(integer_bond_order(2.5), 2);
  EXPECT_EQ(integer_bond_order(3.5), 4);
  EXPECT_EQ(integer_bond_order(3.0), 3);
}

TEST(OrbitalNodes, AllocationByPeriodAndMultipleBonds) {
  struct Case {
    const char* smiles;
    unsigned atom;
    std::size_t nodes;
    int sigma;
  };
  for (const Case& c : {Case{"C", 0, 4, 4}, Case{"C=C", 0, 4, 3}, Case{"O=C=O", 1, 4, 2}, Case{"C#N", 1, 4, 2},
                        Case{"ClC(Cl)(Cl)Cl", 0, 4, 4}, Case{"CBr", 1, 9, 9}, Case{"C", 1, 1, 1},
                        Case{"[H]B1([H])[H][B]([H])([H])[H]1", 3, 1, 1}}) {
    VifGraph g = graph_of(c.smiles);
    EXPECT_EQ(g.orbital.atom_nodes[c.atom].size(), c.nodes) << c.smiles;
    EXPECT_EQ(g.sigma_count[c.atom], c.sigma) << c.smiles;
  }
}

TEST(OrbitalNodes, AnOverloadedAtomKeepsOneSigmaNode) {
  // C with a triple and a double bond: three pi slots wanted, three spare nodes.
  VifGraph g = graph_of("C#C=C");
  EXPECT_EQ(g.sigma_count[1], 1);
  // Carbon with two triple bonds asks for four pi nodes and still keeps one sigma.
  VifGraph two_triples = graph_of("N#C[C]#N");
  EXPECT_EQ(two_triples.sigma_count[1], 2);
  EXPECT_EQ(graph_of("[C](#N)#N").sigma_count[0], 1);
}

TEST(OrbitalNodes, EthyleneNumberingAttributesAndSigmaCliques) {
  VifGraph g = graph_of("C=C");
  const OrbitalGraph& og = g.orbital;
  ASSERT_EQ(og.nodes.size(), 12u);
  EXPECT_EQ(og.atom_nodes[0], (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(og.atom_nodes[1], (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(og.atom_nodes[2], (std::vector<int>{8}));
  EXPECT_EQ(og.nodes[3].kind, NodeKind::pi);
  EXPECT_EQ(og.nodes[2].kind, NodeKind::sigma);
  EXPECT_TRUE(og.nodes[0].central);
  EXPECT_FALSE(og.nodes[8].central);
  EXPECT_EQ(og.nodes[8].symbol, "H");
  std::vector<std::pair<int, int>> intra;
  for (std::size_t i = 0; i < 6; ++i) {
    intra.emplace_back(og.graph.edges[i].u, og.graph.edges[i].v);
    EXPECT_EQ(og.graph.edges[i].weight, 1.0);
  }
  EXPECT_EQ(intra, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 2}, {4, 5}, {4, 6}, {5, 6}}));
  EXPECT_TRUE(graph_of("C[Li]").orbital.nodes[4].central);
}

TEST(OrbitalNodes, UnknownElementsStopTheBuild) {
  auto mol = molecule::prepare_molecule("C*");
  EXPECT_THROW(build_vif_graph(*mol, spread_centres(*mol), build_bond_orders(*mol), GraphParams{}), InvalidInput);
}

TEST(BondEdges, FormaldehydeHasOneEdgePerSlot) {
  VifGraph g = graph_of("C=O");
  const auto& bonds = g.orbital.bonds;
  ASSERT_EQ(bonds.size(), 4u);
  EXPECT_EQ(g.orbital.graph.edges.size(), 3u + 3u + 4u);  // C: 3 sigma, O: 3 sigma
  EXPECT_EQ(bonds[0].atom_u, 0);
  EXPECT_EQ(bonds[0].atom_v, 1);
  EXPECT_EQ(bonds[0].k, 0);
  EXPECT_EQ(bonds[1].k, 1);
  EXPECT_EQ(bonds[1].order, 2);
  EXPECT_EQ(bonds[2].k, 0);
  EXPECT_EQ(bonds[2].sym_v, "H");
  // The sigma slot sits on sigma nodes, the pi slot on pi nodes.
  EXPECT_EQ(g.orbital.nodes[bonds[0].u_node].kind, NodeKind::sigma);
  EXPECT_EQ(g.orbital.nodes[bonds[1].u_node].kind, NodeKind::pi);
  EXPECT_EQ(g.orbital.nodes[bonds[1].v_node].kind, NodeKind::pi);
  for (std::size_t i = 6; i < g.orbital.graph.edges.size(); ++i) EXPECT_EQ(g.orbital.graph.edges[i].weight, 0.9);
}

TEST(BondEdges, MethaneAndHydrogenNodes) {
  VifGraph g = graph_of("C");
  EXPECT_EQ(g.orbital.graph.node_count, 8);
  EXPECT_EQ(g.orbital.graph.edges.size(), 10u);
  // Every hydrogen's only node carries its bond; every carbon node gets one.
  std::vector<int> carbon_nodes;
  for (const BondRecord& r : g.orbital.bonds) carbon_nodes.push_back(r.u_node);
  std::sort(carbon_nodes.begin(), carbon_nodes.end());
  EXPECT_EQ(carbon_nodes, (std::vector<int>{0, 1, 2, 3}));
}

TEST(BondEdges, CoincidentAtomsFallBackToFirstNodesOnce) {
  auto mol = molecule::prepare_molecule("C=O");
  std::vector<Point2> centres = spread_centres(*mol);
  centres[1] = centres[0];
  VifGraph g = build_vif_graph(*mol, centres, build_bond_orders(*mol), GraphParams{});
  ASSERT_GE(g.orbital.bonds.size(), 1u);
  EXPECT_EQ(g.orbital.bonds[0].u_node, 0);
  EXPECT_EQ(g.orbital.bonds[0].v_node, 4);
  // The pi slot would reuse the same node pair and adds nothing.
  EXPECT_EQ(g.orbital.bonds.size(), 3u);
  EXPECT_EQ(g.orbital.bonds[1].sym_v, "H");
}

TEST(GreedyAssign, ExactMatchesTieBreaksAndLeftovers) {
  const std::vector<double> angle{0.0, std::numbers::pi / 2, std::numbers::pi, 3 * std::numbers::pi / 2};
  const std::vector<int> nodes{0, 1, 2, 3};

  SlotAssignment exact;
  std::vector<SlotTarget> targets{{7, 0, std::numbers::pi}, {8, 0, 0.0}};
  greedy_assign(targets, nodes, angle, exact);
  EXPECT_EQ(exact.at({7, 0}), 2);
  EXPECT_EQ(exact.at({8, 0}), 0);

  // Both targets are 0.5 from node 0: the first target wins it, the second
  // takes its next-best free node.
  SlotAssignment tie;
  std::vector<SlotTarget> equidistant{{5, 0, 0.5}, {6, 0, -0.5}};
  greedy_assign(equidistant, nodes, angle, tie);
  EXPECT_EQ(tie.at({5, 0}), 0);
  EXPECT_EQ(tie.at({6, 0}), 3);

  // Three targets, two nodes: the third goes to its nearest node anyway.
  SlotAssignment crowded;
  const std::vector<int> two{0, 2};
  std::vector<SlotTarget> three{{1, 0, 0.1}, {2, 0, 3.0}, {3, 0, 0.3}};
  greedy_assign(three, two, angle, crowded);
  EXPECT_EQ(crowded.at({1, 0}), 0);
  EXPECT_EQ(crowded.at({2, 0}), 2);
  EXPECT_EQ(crowded.at({3, 0}), 0);

  SlotAssignment single;
  greedy_assign(three, std::vector<int>{1}, angle, single);
  EXPECT_EQ(single.size(), 3u);
  for (const auto& [slot, node] : single) EXPECT_EQ(node, 1);
}

}  // namespace
}  // namespace tessarin::vif
