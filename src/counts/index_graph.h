// A weighted undirected graph as compact index adjacency (CSR), built once and
// read by every count-only LPI test. Edges keep their ids, so a test can mask
// one out (or restrict itself to a node subset) without touching the graph.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/weighted_graph.h"

namespace tessarin::counts {

class IndexGraph {
 public:
  IndexGraph() = default;

  // Nodes 0..node_count-1 and the given undirected edges (edge id = position).
  // Throws InvalidInput for a negative node count, a non-finite weight or a
  // node pair listed twice (in either direction), IndexOutOfRange for an edge
  // end outside the graph. Self-loops are allowed.
  IndexGraph(int node_count, std::span<const core::WeightedEdge> edges);
  explicit IndexGraph(const core::WeightedGraph& graph);

  int node_count() const { return node_count_; }
  std::size_t edge_count() const { return edges_.size(); }
  const core::WeightedEdge& edge(std::size_t id) const { return edges_[id]; }
  std::span<const core::WeightedEdge> edges() const { return edges_; }
  bool has_self_loops() const { return self_loops_ > 0; }
  // Smallest and largest magnitude among the non-zero edge weights (both 0
  // when every weight is zero or there are no edges).
  double min_abs_weight() const { return min_abs_weight_; }
  double max_abs_weight() const { return max_abs_weight_; }

  // Neighbour slots of node u: parallel spans of neighbour ids, weights and
  // edge ids, neighbours ascending. A self-loop lists u among its neighbours.
  std::span<const int> neighbours(int u) const { return slice(neighbour_, u); }
  std::span<const double> weights(int u) const { return slice(weight_, u); }
  std::span<const int> edge_ids(int u) const { return slice(edge_id_, u); }

  // Id of the edge between u and v, if there is one. Nodes outside the graph
  // simply have no edges.
  std::optional<std::size_t> find_edge(int u, int v) const;

 private:
  template <typename T>
  std::span<const T> slice(const std::vector<T>& v, int u) const {
    const auto b = static_cast<std::size_t>(offset_[static_cast<std::size_t>(u)]);
    const auto e = static_cast<std::size_t>(offset_[static_cast<std::size_t>(u) + 1]);
    return std::span<const T>(v.data() + b, e - b);
  }

  int node_count_ = 0;
  int self_loops_ = 0;
  double min_abs_weight_ = 0.0;
  double max_abs_weight_ = 0.0;
  std::vector<core::WeightedEdge> edges_;
  std::vector<int> offset_{0};
  std::vector<int> neighbour_;
  std::vector<double> weight_;
  std::vector<int> edge_id_;
};

}  // namespace tessarin::counts
