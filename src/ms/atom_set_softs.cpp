#include "ms/atom_set_softs.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/errors.h"

namespace tessarin::ms {
namespace {

// Largest ratio of the largest to the smallest non-zero weight magnitude at
// which deletions are judged from the core blocks' inverses.
constexpr double kMaxBlockRuleWeightRatio = 10.0;

}  // namespace

MoleculeOrbitals molecule_orbitals(const vif::OrbitalGraph& orbital) {
  MoleculeOrbitals out{counts::IndexGraph(orbital.graph), {}, {}};
  const int n = out.graph.node_count();
  auto node = [n](int v) { return v >= 0 && v < n ? v : -1; };
  out.atom_nodes.reserve(orbital.atom_nodes.size());
  for (const std::vector<int>& nodes : orbital.atom_nodes) {
    std::vector<int> own;
    for (int v : nodes)
      if (node(v) >= 0) own.push_back(v);
    std::sort(own.begin(), own.end());
    own.erase(std::unique(own.begin(), own.end()), own.end());
    out.atom_nodes.emplace_back(std::move(own));
  }
  const int atoms = static_cast<int>(orbital.atom_nodes.size());
  auto atom = [atoms](int a) { return a >= 0 && a < atoms ? a : -1; };
  out.bonds.reserve(orbital.bonds.size());
  for (const vif::BondRecord& r : orbital.bonds) {
    OrbitalBond b{atom(r.atom_u), atom(r.atom_v), node(r.u_node), node(r.v_node), std::nullopt, r.order};
    if (b.u_node >= 0 && b.v_node >= 0) b.edge = out.graph.find_edge(b.u_node, b.v_node);
    out.bonds.push_back(b);
  }
  return out;
}

AtomSetSoftBonds::AtomSetSoftBonds(const MoleculeOrbitals& orbitals, double tol, SoftTestPath path)
    : orbitals_(orbitals), tol_(tol), counter_(&cores_) {
  if (std::isnan(tol)) throw InvalidInput("tol must be a number, not NaN");
  method_ = path == SoftTestPath::fast && counts::peeling_applies(orbitals.graph, tol) ? counts::CountMethod::peeled
                                                                                       : counts::CountMethod::dense;
  // The block rules read inverses; keep them to graphs of well-matched
  // weights (orbital graphs have 0.9 and 1).
  cores_.use_block_rules(orbitals.graph.max_abs_weight() <= kMaxBlockRuleWeightRatio * orbitals.graph.min_abs_weight());
}

counts::LpiCounts AtomSetSoftBonds::count(std::span<const std::size_t> removed) {
  const counts::CoreMemoStats& memo = cores_.memo_stats();
  const long long solves_before = memo.solves;
  const long long nodes_before = memo.solved_nodes;
  const counts::LpiCounts counts = counter_.count_induced(orbitals_.graph, nodes_, removed, tol_, method_);
  ++stats_.counts;
  if (method_ == counts::CountMethod::dense) {
    if (nodes_.empty()) {
      ++stats_.peeled_away;  // nothing to count
    } else {
      ++stats_.dense_counts;
      ++stats_.dense_blocks;
      stats_.dense_nodes += static_cast<long long>(nodes_.size());
      stats_.largest_dense = std::max(stats_.largest_dense, static_cast<int>(nodes_.size()));
    }
    return counts;
  }
  const long long solved = memo.solves - solves_before;
  if (counter_.last_peel().core_blocks == 0) {
    ++stats_.peeled_away;
  } else if (solved == 0) {
    ++stats_.memo_hits;
  } else {
    ++stats_.dense_counts;
    stats_.dense_blocks += solved;
    stats_.dense_nodes += memo.solved_nodes - nodes_before;
    stats_.largest_dense = std::max(stats_.largest_dense, memo.largest_solved);
  }
  return counts;
}

std::vector<std::size_t> AtomSetSoftBonds::soft_bonds(std::span<const int> atom_set, const core::InterruptCheck& poll) {
  const std::size_t atom_count = orbitals_.atom_nodes.size();
  atom_in_.assign(atom_count, 0);
  node_in_.assign(static_cast<std::size_t>(orbitals_.graph.node_count()), 0);
  nodes_.clear();
  for (int a : atom_set) {
    if (a < 0 || static_cast<std::size_t>(a) >= atom_count) {
      throw IndexOutOfRange("atom " + std::to_string(a) + " is not among the " + std::to_string(atom_count) +
                            " atoms of the orbital mapping");
    }
    const auto& nodes = orbitals_.atom_nodes[static_cast<std::size_t>(a)];
    if (!nodes) throw MissingKey("atom " + std::to_string(a) + " has no entry in the atom-to-orbital mapping");
    if (atom_in_[static_cast<std::size_t>(a)] != 0) continue;
    atom_in_[static_cast<std::size_t>(a)] = 1;
    for (int v : *nodes) {
      if (node_in_[static_cast<std::size_t>(v)] != 0) continue;  // a node listed under two atoms counts once
      node_in_[static_cast<std::size_t>(v)] = 1;
      nodes_.push_back(v);
    }
  }
  std::sort(nodes_.begin(), nodes_.end());
  ++stats_.atom_sets;

  auto inside_atom = [&](int a) { return a >= 0 && atom_in_[static_cast<std::size_t>(a)] != 0; };
  auto inside_node = [&](int v) { return v >= 0 && node_in_[static_cast<std::size_t>(v)] != 0; };
  // The intact subgraph's count; its core blocks are kept for judging the
  // deletions (the peeled path only: the dense one has no blocks).
  cores_.begin_intact(node_in_.size());
  const counts::LpiCounts baseline = count({});
  cores_.end_intact();
  // Edges within the set at node v (every edge of the graph is a candidate
  // for the count, whatever its weight).
  auto inside_degree = [&](int v) {
    int d = 0;
    for (int w : orbitals_.graph.neighbours(v)) d += inside_node(w) ? 1 : 0;
    return d;
  };
  // Without a zero count in the baseline, deleting an edge that leaves a node
  // of the set isolated adds that node's zero eigenvalue: not soft, and no
  // count needed (the peeled count would find exactly that).
  const bool isolation_rule = method_ == counts::CountMethod::peeled && baseline.n_zero == 0;
  std::vector<std::size_t> soft;
  for (std::size_t i = 0; i < orbitals_.bonds.size(); ++i) {
    const OrbitalBond& b = orbitals_.bonds[i];
    if (!inside_atom(b.atom_u) || !inside_atom(b.atom_v)) continue;
    if (!b.edge || !inside_node(b.u_node) || !inside_node(b.v_node)) continue;
    core::poll(poll);
    if (isolation_rule && (inside_degree(b.u_node) == 1 || inside_degree(b.v_node) == 1)) {
      ++stats_.isolated;
      continue;
    }
    // A deletion inside one core block: judged by the block's inverse where
    // the evidence is clear (a block counted from the memo answers the same).
    const auto verdict = cores_.judge_deletion(b.u_node, b.v_node, orbitals_.graph.edge(*b.edge).weight, tol_);
    if (verdict != counts::EdgeRemovalScreen::Verdict::undecided) {
      ++stats_.rank_two;
      if (verdict == counts::EdgeRemovalScreen::Verdict::soft) soft.push_back(i);
      continue;
    }
    const std::size_t removed[] = {*b.edge};
    if (count(removed) == baseline) soft.push_back(i);
  }
  stats_.extended = cores_.extended();
  return soft;
}

}  // namespace tessarin::ms
