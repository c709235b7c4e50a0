// From a prepared molecule and its atom layout to the finished VIF graph:
// orbital nodes per atom, sigma cliques, node directions, bond slots matched
// to nodes, and one bond edge per slot.
#pragma once

#include <GraphMol/ROMol.h>

#include <map>
#include <span>
#include <utility>
#include <vector>

#include "layout/point2.h"
#include "vif/bond_orders.h"
#include "vif/orbital_graph.h"

namespace tessarin::vif {

struct GraphParams {
  double target_bond_len = 1.5;
  double radius_ratio = 0.23;
  double bond_kappa = 0.9;
};

struct VifGraph {
  OrbitalGraph orbital;
  std::vector<int> sigma_count;           // atom -> number of sigma nodes (a prefix of its nodes)
  std::vector<layout::Point2> positions;  // node -> drawing position
  std::vector<double> angles;             // node -> direction from its atom's centre
};

// Orbital nodes of an atom of this period: 1 (H, He), 4 (periods 2, 3) or 9.
int orbital_node_count(int period);

// A slot target: slot k of the bond to atom `neighbour`, wanting direction `angle`.
struct SlotTarget {
  int neighbour = 0;
  int k = 0;
  double angle = 0.0;
};

// Slot -> node of one atom, keyed by (neighbour, k).
using SlotAssignment = std::map<std::pair<int, int>, int>;

// Match targets to nodes by angle: all candidate pairs sorted stably by
// angular distance, taken greedily; targets left over go to their nearest
// node (which then carries two slots).
void greedy_assign(std::span<const SlotTarget> targets, std::span<const int> nodes,
                   const std::vector<double>& node_angle, SlotAssignment& assignment);

// The whole graph. Throws InvalidInput for an atom whose symbol has no period.
VifGraph build_vif_graph(const RDKit::ROMol& mol, std::span<const layout::Point2> centres, const BondOrders& orders,
                         const GraphParams& params);

}  // namespace tessarin::vif
