#include "counts/index_graph.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "core/errors.h"

namespace tessarin::counts {
namespace {

std::vector<core::WeightedEdge> edges_of(const core::WeightedGraph& graph) {
  std::vector<core::WeightedEdge> out;
  out.reserve(graph.edges.size());
  for (const core::WeightedEdge& e : graph.edges) out.push_back({e.u, e.v, e.weight});
  return out;
}

}  // namespace

IndexGraph::IndexGraph(const core::WeightedGraph& graph) : IndexGraph(graph.node_count, edges_of(graph)) {}

IndexGraph::IndexGraph(int node_count, std::span<const core::WeightedEdge> edges)
    : node_count_(node_count), edges_(edges.begin(), edges.end()) {
  if (node_count < 0) throw InvalidInput("a graph cannot have a negative node count");
  const auto n = static_cast<std::size_t>(node_count);
  std::vector<int> degree(n, 0);
  for (const core::WeightedEdge& e : edges_) {
    if (e.u < 0 || e.u >= node_count || e.v < 0 || e.v >= node_count) {
      throw IndexOutOfRange("edge (" + std::to_string(e.u) + ", " + std::to_string(e.v) +
                            ") has an end outside a graph of " + std::to_string(node_count) + " nodes");
    }
    if (!std::isfinite(e.weight)) {
      throw InvalidInput("edge weight between nodes " + std::to_string(e.u) + " and " + std::to_string(e.v) +
                         " is not a finite number");
    }
    const double magnitude = std::abs(e.weight);
    if (magnitude > 0.0) {
      min_abs_weight_ = min_abs_weight_ == 0.0 ? magnitude : std::min(min_abs_weight_, magnitude);
      max_abs_weight_ = std::max(max_abs_weight_, magnitude);
    }
    ++degree[static_cast<std::size_t>(e.u)];
    if (e.u != e.v) {
      ++degree[static_cast<std::size_t>(e.v)];
    } else {
      ++self_loops_;
    }
  }

  offset_.assign(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) offset_[i + 1] = offset_[i] + degree[i];
  const auto slots = static_cast<std::size_t>(offset_[n]);
  neighbour_.resize(slots);
  weight_.resize(slots);
  edge_id_.resize(slots);
  std::vector<int> fill(offset_.begin(), offset_.end() - 1);
  auto put = [&](int at, int to, double w, int id) {
    const auto slot = static_cast<std::size_t>(fill[static_cast<std::size_t>(at)]++);
    neighbour_[slot] = to;
    weight_[slot] = w;
    edge_id_[slot] = id;
  };
  for (std::size_t id = 0; id < edges_.size(); ++id) {
    const core::WeightedEdge& e = edges_[id];
    put(e.u, e.v, e.weight, static_cast<int>(id));
    if (e.u != e.v) put(e.v, e.u, e.weight, static_cast<int>(id));
  }

  // Sort each node's slots by neighbour, which also exposes duplicate pairs.
  std::vector<std::size_t> order;
  std::vector<int> nb;
  std::vector<double> wt;
  std::vector<int> ids;
  for (std::size_t u = 0; u < n; ++u) {
    const auto b = static_cast<std::size_t>(offset_[u]);
    const auto e = static_cast<std::size_t>(offset_[u + 1]);
    order.resize(e - b);
    std::iota(order.begin(), order.end(), b);
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      return neighbour_[x] != neighbour_[y] ? neighbour_[x] < neighbour_[y] : edge_id_[x] < edge_id_[y];
    });
    nb.clear();
    wt.clear();
    ids.clear();
    for (std::size_t s : order) {
      if (!nb.empty() && nb.back() == neighbour_[s]) {
        throw InvalidInput("nodes " + std::to_string(u) + " and " + std::to_string(neighbour_[s]) +
                           " are joined by more than one edge");
      }
      nb.push_back(neighbour_[s]);
      wt.push_back(weight_[s]);
      ids.push_back(edge_id_[s]);
    }
    std::copy(nb.begin(), nb.end(), neighbour_.begin() + static_cast<std::ptrdiff_t>(b));
    std::copy(wt.begin(), wt.end(), weight_.begin() + static_cast<std::ptrdiff_t>(b));
    std::copy(ids.begin(), ids.end(), edge_id_.begin() + static_cast<std::ptrdiff_t>(b));
  }
}

std::optional<std::size_t> IndexGraph::find_edge(int u, int v) const {
  if (u < 0 || u >= node_count_ || v < 0 || v >= node_count_) return std::nullopt;
  const std::span<const int> nb = neighbours(u);
  const auto it = std::lower_bound(nb.begin(), nb.end(), v);
  if (it == nb.end() || *it != v) return std::nullopt;
  return static_cast<std::size_t>(edge_ids(u)[static_cast<std::size_t>(it - nb.begin())]);
}

}  // namespace tessarin::counts
