// The VIF orbital graph as plain data: dense node ids, an edge list in
// creation order, and the bond records that say which edge carries which bond.
#pragma once

#include <string>
#include <vector>

namespace tessarin::vif {

enum class NodeKind { sigma, pi };

struct OrbitalNode {
  int atom = 0;         // owning atom (RDKit index)
  std::string symbol;   // element symbol of the owning atom
  bool central = false; // role "Merkez" (C and Li) rather than "Uç"
  NodeKind kind = NodeKind::sigma;
};

struct OrbitalEdge {
  int u = 0;
  int v = 0;
  double weight = 1.0;
};

// An undirected simple weighted graph on nodes 0..node_count-1.
struct WeightedGraph {
  int node_count = 0;
  std::vector<OrbitalEdge> edges;  // each undirected edge once, in creation order
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
  WeightedGraph graph;                        // intra-atom edges first, then bond edges
  std::vector<std::vector<int>> atom_nodes;   // atom -> its nodes, sigma first
  std::vector<BondRecord> bonds;              // in creation order
};

}  // namespace tessarin::vif
