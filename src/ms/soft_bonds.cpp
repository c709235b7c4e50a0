#include "ms/soft_bonds.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/errors.h"
#include "counts/edge_removal_screen.h"

namespace tessarin::ms {

std::vector<std::size_t> soft_edge_positions(const counts::IndexGraph& graph,
                                             std::span<const std::optional<std::size_t>> candidates,
                                             counts::LpiCounts baseline, double tol, counts::CountMethod method,
                                             const core::InterruptCheck& poll) {
  if (std::isnan(tol)) throw InvalidInput("tol must be a number, not NaN");
  const bool screened = method == counts::CountMethod::automatic;
  if (method == counts::CountMethod::automatic) {
    method = counts::peeling_applies(graph, tol) ? counts::CountMethod::peeled : counts::CountMethod::dense;
  } else if (method == counts::CountMethod::peeled && !counts::peeling_applies(graph, tol)) {
    throw InvalidInput("the peeled count does not apply to this graph and tol");
  }
  const bool any_count = std::any_of(candidates.begin(), candidates.end(), [](const auto& c) { return c.has_value(); });
  if (method == counts::CountMethod::dense && any_count) counts::check_whole_graph_count_fits(graph);
  counts::InertiaCounter counter;
  std::optional<counts::EdgeRemovalScreen> screen;
  if (screened) screen.emplace(graph, baseline, tol);
  std::vector<std::size_t> soft;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!candidates[i]) continue;
    core::poll(poll);
    if (screen) {
      const counts::EdgeRemovalScreen::Verdict verdict = screen->judge(*candidates[i]);
      if (verdict == counts::EdgeRemovalScreen::Verdict::soft) soft.push_back(i);
      if (verdict != counts::EdgeRemovalScreen::Verdict::undecided) continue;
    }
    const std::size_t removed[] = {*candidates[i]};
    if (counter.count(graph, removed, tol, method) == baseline) soft.push_back(i);
  }
  return soft;
}

std::vector<std::size_t> detect_soft_bonds(const core::WeightedGraph& graph, std::span<const vif::BondRecord> bonds,
                                           counts::LpiCounts baseline, double tol, counts::CountMethod method,
                                           const core::InterruptCheck& poll) {
  const counts::IndexGraph index(graph);
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
