#include "vif/orbital_graph_builder.h"

#include <GraphMol/Atom.h>
#include <GraphMol/Bond.h>

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "core/element_data.h"
#include "layout/node_placement.h"
#include "layout/refinement.h"

namespace tessarin::vif {
namespace {

using layout::Point2;

// Nodes of every atom with their kinds, sigma cliques and directions.
void add_atom_nodes(const RDKit::ROMol& mol, std::span<const Point2> centres, const BondOrders& orders, double radius,
                    VifGraph& out) {
  OrbitalGraph& g = out.orbital;
  const unsigned int n_atoms = mol.getNumAtoms();
  g.atom_nodes.resize(n_atoms);
  out.sigma_count.resize(n_atoms);
  std::vector<layout::NeighbourBond> neighbours;
  for (const RDKit::Atom* atom : mol.atoms()) {
    const unsigned int idx = atom->getIdx();
    const std::string& symbol = atom->getSymbol();
    const int n_nodes = orbital_node_count(core::period_of(symbol));

    int pi_count = 0;
    neighbours.clear();
    for (const RDKit::Atom* nbr : mol.atomNeighbors(atom)) {
      const int order = orders.between(mol, idx, nbr->getIdx());
      pi_count += std::max(order - 1, 0);
      neighbours.push_back({centres[nbr->getIdx()], order});
    }
    const int n_pi = n_nodes > 1 ? std::min(pi_count, n_nodes - 1) : 0;
    const int n_sigma = n_nodes - n_pi;
    const bool central = symbol == "C" || symbol == "Li";

    const int first = static_cast<int>(g.nodes.size());
    std::vector<int>& mine = g.atom_nodes[idx];
    for (int i = 0; i < n_nodes; ++i) {
      mine.push_back(first + i);
      g.nodes.push_back({static_cast<int>(idx), symbol, central, i < n_sigma ? NodeKind::sigma : NodeKind::pi});
    }
    out.sigma_count[idx] = n_sigma;
    for (int a = 0; a < n_sigma; ++a)
      for (int b = a + 1; b < n_sigma; ++b) g.graph.edges.push_back({first + a, first + b, 1.0});

    const Point2 centre = centres[idx];
    const std::vector<double> targets = layout::target_angles(centre, neighbours, n_nodes);
    const std::vector<double> node_angles = layout::orbital_node_directions(n_nodes, targets);
    for (double angle : node_angles) {
      out.angles.push_back(angle);
      out.positions.push_back(layout::node_position(centre, radius, angle));
    }
  }
  g.graph.node_count = static_cast<int>(g.nodes.size());
}

// Slot targets of one atom, sigma slots and pi slots apart.
void slot_targets(const RDKit::ROMol& mol, const RDKit::Atom* atom, std::span<const Point2> centres,
                  const BondOrders& orders, std::vector<SlotTarget>& sigma, std::vector<SlotTarget>& pi) {
  sigma.clear();
  pi.clear();
  const unsigned int idx = atom->getIdx();
  const Point2 centre = centres[idx];
  for (const RDKit::Atom* nbr : mol.atomNeighbors(atom)) {
    const unsigned int n_idx = nbr->getIdx();
    const double dx = centres[n_idx].x - centre.x;
    const double dy = centres[n_idx].y - centre.y;
    if (std::hypot(dx, dy) < 1e-9) continue;
    const double base = std::atan2(dy, dx);
    const int c = std::max(orders.between(mol, idx, n_idx), 1);
    for (int k = 0; k < c; ++k) {
      const double angle = base + (k - (c - 1) / 2.0) * layout::kSpread;
      (k == 0 ? sigma : pi).push_back({static_cast<int>(n_idx), k, angle});
    }
  }
}

std::uint64_t edge_key(int a, int b) {
  const auto lo = static_cast<std::uint32_t>(std::min(a, b));
  const auto hi = static_cast<std::uint32_t>(std::max(a, b));
  return (static_cast<std::uint64_t>(lo) << 32) | hi;
}

}  // namespace

int orbital_node_count(int period) {
  if (period == 2 || period == 3) return 4;
  if (period > 3) return 9;
  return 1;
}

void greedy_assign(std::span<const SlotTarget> targets, std::span<const int> nodes,
                   const std::vector<double>& node_angle, SlotAssignment& assignment) {
  if (targets.empty() || nodes.empty()) return;
  if (nodes.size() == 1) {
    for (const SlotTarget& t : targets) assignment[{t.neighbour, t.k}] = nodes[0];
    return;
  }
  struct Candidate {
    double diff;
    std::size_t target;
    std::size_t node;  // position in `nodes`
  };
  std::vector<Candidate> pairs;
  pairs.reserve(targets.size() * nodes.size());
  for (std::size_t ti = 0; ti < targets.size(); ++ti)
    for (std::size_t ni = 0; ni < nodes.size(); ++ni)
      pairs.push_back({layout::angle_diff(node_angle[nodes[ni]], targets[ti].angle), ti, ni});
  std::stable_sort(pairs.begin(), pairs.end(), [](const Candidate& a, const Candidate& b) { return a.diff < b.diff; });

  std::vector<char> target_used(targets.size(), 0);
  std::vector<char> node_used(nodes.size(), 0);
  for (const Candidate& c : pairs) {
    if (target_used[c.target] || node_used[c.node]) continue;
    assignment[{targets[c.target].neighbour, targets[c.target].k}] = nodes[c.node];
    target_used[c.target] = 1;
    node_used[c.node] = 1;
  }
  for (std::size_t ti = 0; ti < targets.size(); ++ti) {
    if (target_used[ti]) continue;
    std::size_t best = 0;
    double best_diff = layout::angle_diff(node_angle[nodes[0]], targets[ti].angle);
    for (std::size_t ni = 1; ni < nodes.size(); ++ni) {
      const double d = layout::angle_diff(node_angle[nodes[ni]], targets[ti].angle);
      if (d < best_diff) {
        best_diff = d;
        best = ni;
      }
    }
    assignment[{targets[ti].neighbour, targets[ti].k}] = nodes[best];
  }
}

VifGraph build_vif_graph(const RDKit::ROMol& mol, std::span<const Point2> centres, const BondOrders& orders,
                         const GraphParams& params) {
  VifGraph out;
  add_atom_nodes(mol, centres, orders, params.target_bond_len * params.radius_ratio, out);
  OrbitalGraph& g = out.orbital;

  // Every atom matches its bond slots to its own nodes.
  std::vector<SlotAssignment> by_atom(mol.getNumAtoms());
  std::vector<SlotTarget> sigma, pi;
  for (const RDKit::Atom* atom : mol.atoms()) {
    const unsigned int idx = atom->getIdx();
    slot_targets(mol, atom, centres, orders, sigma, pi);
    const std::vector<int>& nodes = g.atom_nodes[idx];
    SlotAssignment& assignment = by_atom[idx];
    if (nodes.size() == 1) {
      for (const SlotTarget& t : sigma) assignment[{t.neighbour, t.k}] = nodes[0];
      for (const SlotTarget& t : pi) assignment[{t.neighbour, t.k}] = nodes[0];
      continue;
    }
    const std::span<const int> all(nodes);
    const auto n_sigma = static_cast<std::size_t>(out.sigma_count[idx]);
    greedy_assign(sigma, all.first(n_sigma), out.angles, assignment);
    greedy_assign(pi, all.subspan(n_sigma), out.angles, assignment);
  }

  // One edge per bond slot; a slot whose two nodes are joined already adds nothing.
  std::unordered_set<std::uint64_t> present;
  present.reserve(g.graph.edges.size() * 2 + mol.getNumBonds() * 2);
  for (const core::WeightedEdge& e : g.graph.edges) present.insert(edge_key(e.u, e.v));
  for (const RDKit::Bond* bond : mol.bonds()) {
    const int u_idx = static_cast<int>(bond->getBeginAtomIdx());
    const int v_idx = static_cast<int>(bond->getEndAtomIdx());
    const int order = orders.by_bond[bond->getIdx()];
    const std::string& sym_u = bond->getBeginAtom()->getSymbol();
    const std::string& sym_v = bond->getEndAtom()->getSymbol();
    for (int k = 0; k < order; ++k) {
      const auto u_it = by_atom[u_idx].find({v_idx, k});
      const auto v_it = by_atom[v_idx].find({u_idx, k});
      int u_node = g.atom_nodes[u_idx].front();
      int v_node = g.atom_nodes[v_idx].front();
      if (u_it != by_atom[u_idx].end() && v_it != by_atom[v_idx].end()) {
        u_node = u_it->second;
        v_node = v_it->second;
      }
      if (!present.insert(edge_key(u_node, v_node)).second) continue;
      g.graph.edges.push_back({u_node, v_node, params.bond_kappa});
      g.bonds.push_back({u_node, v_node, u_idx, v_idx, sym_u, sym_v, order, k});
    }
  }
  return out;
}

}  // namespace tessarin::vif
