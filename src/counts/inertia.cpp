#include "counts/inertia.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/errors.h"

namespace tessarin::counts {
namespace {

constexpr double kMaxPeelTol = 1e-6;
constexpr double kMinPeelWeight = 1e-3;
constexpr double kMaxPeelWeight = 1e3;
// tol must stay this far above the largest weight: the dense count's exact
// zeros come out at the rounding level of the matrix, which scales with it.
constexpr double kMinPeelTolPerWeight = 1e-12;

counts::LpiCounts operator+(counts::LpiCounts a, const counts::LpiCounts& b) {
  a.n_plus += b.n_plus;
  a.n_zero += b.n_zero;
  a.n_minus += b.n_minus;
  return a;
}

}  // namespace

bool peeling_applies(const IndexGraph& graph, double tol) {
  if (graph.has_self_loops()) return false;
  if (!(tol > 0.0 && tol <= kMaxPeelTol)) return false;
  if (graph.max_abs_weight() == 0.0) return true;  // no non-zero edge at all
  if (tol < kMinPeelTolPerWeight * graph.max_abs_weight()) return false;
  return graph.min_abs_weight() >= kMinPeelWeight && graph.max_abs_weight() <= kMaxPeelWeight;
}

void check_whole_graph_count_fits(const IndexGraph& graph) {
  const int n = graph.node_count();
  if (n >= kMinBandNodes) {
    std::vector<std::pair<int, int>> pairs;
    pairs.reserve(graph.edge_count());
    for (const core::WeightedEdge& e : graph.edges()) pairs.emplace_back(e.u, e.v);
    const int width = band_ordering(SparsePattern::from_pairs(n, pairs)).bandwidth;
    if (eigen_path(n, width) == EigenPath::band) {
      check_band_matrix_fits(n, width);
      return;
    }
  }
  check_dense_matrix_fits(n);
}

counts::LpiCounts DenseCoreCounter::count(const CoreBlock& block, double tol) {
  const std::size_t n = block.nodes.size();
  if (n == 0) return {};
  if (const std::optional<counts::LpiCounts> narrow = band_.count(static_cast<int>(n), block.entries, tol))
    return *narrow;
  check_dense_matrix_fits(static_cast<long long>(n));
  matrix_.assign(n * n, 0.0);
  for (const counts::MatrixEntry& e : block.entries) {
    // Lower triangle, column-major: the part the solver reads.
    matrix_[static_cast<std::size_t>(e.col) * n + static_cast<std::size_t>(e.row)] = e.weight;
  }
  if (!(tol > 0.0)) {
    solver_.eigenvalues(static_cast<int>(n), matrix_, values_);
    return counts::count_signs(values_, tol);
  }
  // Eigenvalues above tol and below -tol from two factorisations; the rest
  // lie within [-tol, tol].
  const int order = static_cast<int>(n);
  counts::LpiCounts counts;
  counts.n_plus = inertia_.split(order, matrix_, tol).above;
  counts.n_minus = inertia_.split(order, matrix_, -tol).below;
  counts.n_zero = order - counts.n_plus - counts.n_minus;
  return counts;
}

counts::LpiCounts InertiaCounter::count(const IndexGraph& graph, std::span<const std::size_t> removed, double tol,
                                        CountMethod method) {
  return run(graph, nullptr, static_cast<std::size_t>(graph.node_count()), removed, tol, method);
}

counts::LpiCounts InertiaCounter::count_induced(const IndexGraph& graph, std::span<const int> nodes,
                                                std::span<const std::size_t> removed, double tol, CountMethod method) {
  // run() reads a null list as "every node"; an empty span may carry a null
  // pointer, and an empty subgraph has no eigenvalues at all.
  static constexpr int kNoNode = -1;
  return run(graph, nodes.empty() ? &kNoNode : nodes.data(), nodes.size(), removed, tol, method);
}

counts::LpiCounts InertiaCounter::run(const IndexGraph& graph, const int* nodes, std::size_t node_count,
                                      std::span<const std::size_t> removed, double tol, CountMethod method) {
  const auto n = static_cast<std::size_t>(graph.node_count());
  // local_[v]: row of node v in the dense matrix, -1 when v is not counted.
  local_.assign(n, -1);
  if (nodes == nullptr) {
    for (std::size_t v = 0; v < n; ++v) local_[v] = static_cast<int>(v);
  } else {
    for (std::size_t k = 0; k < node_count; ++k) {
      const int v = nodes[k];
      if (v < 0 || static_cast<std::size_t>(v) >= n) {
        throw IndexOutOfRange("node " + std::to_string(v) + " is not in a graph of " + std::to_string(n) + " nodes");
      }
      if (local_[static_cast<std::size_t>(v)] >= 0) {
        throw InvalidInput("node " + std::to_string(v) + " is listed twice");
      }
      local_[static_cast<std::size_t>(v)] = static_cast<int>(k);
    }
  }
  edge_off_.assign(graph.edge_count(), 0);
  for (std::size_t id : removed) {
    if (id >= graph.edge_count()) {
      throw IndexOutOfRange("edge id " + std::to_string(id) + " is not in a graph of " +
                            std::to_string(graph.edge_count()) + " edges");
    }
    edge_off_[id] = 1;
  }

  if (method == CountMethod::automatic) {
    method = peeling_applies(graph, tol) ? CountMethod::peeled : CountMethod::dense;
  } else if (method == CountMethod::peeled && !peeling_applies(graph, tol)) {
    throw InvalidInput(
        "the peeled count needs a graph without self-loops, non-zero weights of magnitude "
        "1e-3 to 1e3 and 0 < tol <= 1e-6");
  }
  if (method == CountMethod::dense) return dense(graph, nodes, node_count, tol);

  alive_.resize(n);
  for (std::size_t v = 0; v < n; ++v) alive_[v] = local_[v] >= 0 ? 1 : 0;
  return peeled(graph, tol);
}

counts::LpiCounts InertiaCounter::dense(const IndexGraph& graph, const int* nodes, std::size_t m, double tol) {
  if (m == 0) return {};
  stats_ = {static_cast<int>(m), static_cast<int>(m), 1};
  // The lower triangle: each edge once, from its end with the lower row.
  lower_.clear();
  for (std::size_t k = 0; k < m; ++k) {
    const int u = nodes == nullptr ? static_cast<int>(k) : nodes[k];
    const auto nb = graph.neighbours(u);
    const auto wt = graph.weights(u);
    const auto ids = graph.edge_ids(u);
    for (std::size_t s = 0; s < nb.size(); ++s) {
      const int row = local_[static_cast<std::size_t>(nb[s])];
      if (row < static_cast<int>(k) || edge_off_[static_cast<std::size_t>(ids[s])] != 0) continue;
      lower_.push_back({row, static_cast<int>(k), wt[s]});
    }
  }
  if (const std::optional<counts::LpiCounts> narrow = band_.count(static_cast<int>(m), lower_, tol)) return *narrow;
  check_dense_matrix_fits(static_cast<long long>(m));
  matrix_.assign(m * m, 0.0);
  for (const counts::MatrixEntry& e : lower_)
    matrix_[static_cast<std::size_t>(e.col) * m + static_cast<std::size_t>(e.row)] += e.weight;
  solver_.eigenvalues(static_cast<int>(m), matrix_, values_);
  return counts::count_signs(values_, tol);
}

counts::LpiCounts InertiaCounter::peeled(const IndexGraph& graph, double tol) {
  const auto n = static_cast<std::size_t>(graph.node_count());
  counts::LpiCounts counts;
  stats_ = {};
  degree_.assign(n, 0);
  stack_.clear();
  for (std::size_t u = 0; u < n; ++u) {
    if (alive_[u] == 0) continue;
    ++stats_.active_nodes;
    const auto nb = graph.neighbours(static_cast<int>(u));
    const auto wt = graph.weights(static_cast<int>(u));
    const auto ids = graph.edge_ids(static_cast<int>(u));
    int d = 0;
    for (std::size_t s = 0; s < nb.size(); ++s) d += active(ids[s], wt[s], nb[s]) ? 1 : 0;
    degree_[u] = d;
    if (d <= 1) stack_.push_back(static_cast<int>(u));
  }

  // Peel isolated nodes and pendant pairs until every node left has degree >= 2.
  while (!stack_.empty()) {
    const int x = stack_.back();
    stack_.pop_back();
    const auto ux = static_cast<std::size_t>(x);
    if (alive_[ux] == 0) continue;
    if (degree_[ux] == 0) {
      alive_[ux] = 0;
      ++counts.n_zero;
      continue;
    }
    int y = -1;
    {
      const auto nb = graph.neighbours(x);
      const auto wt = graph.weights(x);
      const auto ids = graph.edge_ids(x);
      for (std::size_t s = 0; s < nb.size() && y < 0; ++s) {
        if (active(ids[s], wt[s], nb[s])) y = nb[s];
      }
    }
    alive_[ux] = 0;
    alive_[static_cast<std::size_t>(y)] = 0;
    ++counts.n_plus;
    ++counts.n_minus;
    const auto nb = graph.neighbours(y);
    const auto wt = graph.weights(y);
    const auto ids = graph.edge_ids(y);
    for (std::size_t s = 0; s < nb.size(); ++s) {
      if (!active(ids[s], wt[s], nb[s])) continue;
      const auto z = static_cast<std::size_t>(nb[s]);
      if (--degree_[z] <= 1) stack_.push_back(nb[s]);
    }
  }

  // Count each connected block of the core densely, in canonical form.
  for (std::size_t start = 0; start < n; ++start) {
    if (alive_[start] != 1) continue;
    block_nodes_.assign(1, static_cast<int>(start));
    alive_[start] = 2;
    for (std::size_t i = 0; i < block_nodes_.size(); ++i) {
      const int u = block_nodes_[i];
      const auto nb = graph.neighbours(u);
      const auto wt = graph.weights(u);
      const auto ids = graph.edge_ids(u);
      for (std::size_t s = 0; s < nb.size(); ++s) {
        if (!active(ids[s], wt[s], nb[s]) || alive_[static_cast<std::size_t>(nb[s])] != 1) continue;
        alive_[static_cast<std::size_t>(nb[s])] = 2;
        block_nodes_.push_back(nb[s]);
      }
    }
    std::sort(block_nodes_.begin(), block_nodes_.end());
    for (std::size_t i = 0; i < block_nodes_.size(); ++i) {
      local_[static_cast<std::size_t>(block_nodes_[i])] = static_cast<int>(i);
    }
    block_entries_.clear();
    for (std::size_t i = 0; i < block_nodes_.size(); ++i) {
      const int u = block_nodes_[i];
      const auto nb = graph.neighbours(u);
      const auto wt = graph.weights(u);
      const auto ids = graph.edge_ids(u);
      for (std::size_t s = 0; s < nb.size(); ++s) {
        if (!active(ids[s], wt[s], nb[s])) continue;
        const int j = local_[static_cast<std::size_t>(nb[s])];
        if (j < static_cast<int>(i)) block_entries_.push_back({static_cast<int>(i), j, wt[s]});
      }
    }
    stats_.core_nodes += static_cast<int>(block_nodes_.size());
    ++stats_.core_blocks;
    counts = counts + core().count(CoreBlock{block_nodes_, block_entries_}, tol);
  }
  return counts;
}

}  // namespace tessarin::counts
