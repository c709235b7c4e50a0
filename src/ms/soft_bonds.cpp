#include "ms/soft_bonds.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/errors.h"
#include "ms/edge_removal_screen.h"

namespace tessarin::ms {

std::vector<std::size_t> soft_edge_positions(const IndexGraph& graph,
                                             std::span<const std::optional<std::size_t>> candidates,
                                             vif::LpiCounts baseline, double tol, CountMethod method,
                                             const core::InterruptCheck& poll) {
  if (std::isnan(tol)) throw InvalidInput("tol must be a number, not NaN");
  const bool screened = method == CountMethod::automatic;
  if (method == CountMethod::automatic) {
    method = peeling_applies(graph, tol) ? CountMethod::peeled : CountMethod::dense;
  } else if (method == CountMethod::peeled && !peeling_applies(graph, tol)) {
    throw InvalidInput("the peeled count does not apply to this graph and tol");
  }
  const bool any_count = std::any_of(candidates.begin(), candidates.end(), [](const auto& c) { return c.has_value(); });
  if (method == CountMethod::dense && any_count) vif::check_dense_matrix_fits(graph.node_count());
  InertiaCounter counter;
  std::optional<EdgeRemovalScreen> screen;
  if (screened) screen.emplace(graph, baseline, tol);
  std::vector<std::size_t> soft;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!candidates[i]) continue;
    core::poll(poll);
    if (screen) {
      const EdgeRemovalScreen::Verdict verdict = screen->judge(*candidates[i]);
      if (verdict == EdgeRemovalScreen::Verdict::soft) soft.push_back(i);
      if (verdict != EdgeRemovalScreen::Verdict::undecided) continue;
    }
    const std::size_t removed[] = {*candidates[i]};
    if (counter.count(graph, removed, tol, method) == baseline) soft.push_back(i);
  }
  return soft;
}

std::vector<std::size_t> detect_soft_bonds(const vif::WeightedGraph& graph, std::span<const vif::BondRecord> bonds,
                                           vif::LpiCounts baseline, double tol, CountMethod method,
                                           const core::InterruptCheck& poll) {
  const IndexGraph index(graph);
  std::vector<std::optional<std::size_t>> candidates;
  candidates.reserve(bonds.size());
  for (std::size_t i = 0; i < bonds.size(); ++i) {
    const vif::BondRecord& b = bonds[i];
    for (int node : {b.u_node, b.v_node}) {
      if (node < 0 || node >= index.node_count()) {
        throw IndexOutOfRange("bond record " + std::to_string(i) + " names node " + std::to_string(node) +
                              ", outside a graph of " + std::to_string(index.node_count()) + " nodes");
      }
    }
    candidates.push_back(index.find_edge(b.u_node, b.v_node));
  }
  return soft_edge_positions(index, candidates, baseline, tol, method, poll);
}

}  // namespace tessarin::ms
