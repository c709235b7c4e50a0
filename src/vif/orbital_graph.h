// The VIF orbital graph as plain data: dense node ids, an edge list in
// creation order, and the bond records that say which edge carries which bond.
#pragma once

#include <string>
#include <vector>

#include "core/weighted_graph.h"

namespace tessarin::vif {

enum class NodeKind { sigma, pi };

struct OrbitalNode {
  int atom = 0;          // owning atom (RDKit index)
  std::string symbol;    // element symbol of the owning atom
  bool central = false;  // role "Merkez" (C and Li) rather than "Uç"
  NodeKind kind = NodeKind::sigma;
};

// One bond edge: slot k of the bond between atom_u (begin) and atom_v (end).
struct BondRecord {
  int u_node = 0;
  int v_node = 0;
  int atom_u = 0;
  int atom_v = 0;
  std::string sym_u;
  std::string sym_v;
  int order = 1;
  int k = 0;
};

struct OrbitalGraph {
  std::vector<OrbitalNode> nodes;
  core::WeightedGraph graph;                 // intra-atom edges first, then bond edges, in creation order
  std::vector<std::vector<int>> atom_nodes;  // atom -> its nodes, sigma first
  std::vector<BondRecord> bonds;             // in creation order
};

}  // namespace tessarin::vif
