#include "counts/atom_set_cores.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tessarin::counts {
namespace {

// Largest number of extra nodes an extension may add.
constexpr std::size_t kMaxExtraNodes = 64;

}  // namespace

void AtomSetCores::begin_intact(std::size_t graph_nodes) {
  recording_ = true;
  recorded_ = 0;
  node_block_.assign(graph_nodes, -1);
  node_row_.assign(graph_nodes, -1);
  inverse_.clear();
  looked_up_.clear();
}

void AtomSetCores::end_intact() {
  recording_ = false;
  inverse_.resize(recorded_, nullptr);
  looked_up_.resize(recorded_, 0);
}

const BlockInverse* AtomSetCores::recorded_inverse(std::size_t b) {
  if (looked_up_[b] == 0) {
    looked_up_[b] = 1;
    inverse_[b] = inverses_.inverse(CoreBlock{nodes_[b], entries_[b]});
  }
  return inverse_[b];
}

counts::LpiCounts AtomSetCores::count(const CoreBlock& block, double tol) {
  if (recording_) {
    if (recorded_ == nodes_.size()) {
      nodes_.emplace_back();
      entries_.emplace_back();
    }
    nodes_[recorded_].assign(block.nodes.begin(), block.nodes.end());
    entries_[recorded_].assign(block.entries.begin(), block.entries.end());
    for (std::size_t i = 0; i < block.nodes.size(); ++i) {
      const auto v = static_cast<std::size_t>(block.nodes[i]);
      if (v >= node_block_.size()) continue;  // begin_intact() was given too small a graph
      node_block_[v] = static_cast<int>(recorded_);
      node_row_[v] = static_cast<int>(i);
    }
    ++recorded_;
    if (!block_rules_) return memo_.count(block, tol);
    if (const std::optional<counts::LpiCounts> counts = count_intact(block, tol)) return *counts;
    return memo_.count(block, tol);
  }
  if (const std::optional<counts::LpiCounts> known = memo_.find(block, tol)) return *known;
  if (!block_rules_) return memo_.count(block, tol);
  if (const std::optional<counts::LpiCounts> counts = count_extension(block, tol)) {
    ++extended_;
    memo_.remember(block, tol, *counts, false);
    return *counts;
  }
  return memo_.count(block, tol);
}

std::optional<counts::LpiCounts> AtomSetCores::count_intact(const CoreBlock& block, double tol) {
  // The deletions inside this block will want its inverse anyway; its
  // factorisation gives the counts as well.
  if (const std::optional<counts::LpiCounts> known = memo_.find(block, tol)) return known;
  const BlockInverse* inverse = inverses_.inverse(block);
  if (inverse == nullptr) return std::nullopt;
  const std::optional<counts::LpiCounts> counts = inverse->counts(tol);
  if (counts) memo_.remember(block, tol, *counts, true);
  return counts;
}

EdgeRemovalScreen::Verdict AtomSetCores::judge_deletion(int u, int v, double weight, double tol) {
  auto block_of = [this](int node) {
    return node >= 0 && static_cast<std::size_t>(node) < node_block_.size()
               ? node_block_[static_cast<std::size_t>(node)]
               : -1;
  };
  const int block = block_of(u);
  if (!block_rules_ || block < 0 || block != block_of(v) || weight == 0.0) return EdgeRemovalScreen::Verdict::undecided;
  const BlockInverse* inverse = recorded_inverse(static_cast<std::size_t>(block));
  // The block itself must be clear of tol for its inertia to be its counts.
  if (inverse == nullptr || !inverse->counts(tol)) return EdgeRemovalScreen::Verdict::undecided;
  const std::size_t n = nodes_[static_cast<std::size_t>(block)].size();
  const auto i = static_cast<std::size_t>(node_row_[static_cast<std::size_t>(u)]);
  const auto j = static_cast<std::size_t>(node_row_[static_cast<std::size_t>(v)]);
  return EdgeRemovalScreen::rank_two(inverse->inverse, n, 1.0 / inverse->min_abs_eigenvalue, i, j, weight, tol);
}

std::optional<counts::LpiCounts> AtomSetCores::count_extension(const CoreBlock& block, double tol) {
  if (!(tol > 0.0)) return std::nullopt;
  const std::size_t m = block.nodes.size();
  // The one recorded block B whose nodes this block holds, all of them.
  int b = -1;
  std::size_t common = 0;
  for (int v : block.nodes) {
    const auto uv = static_cast<std::size_t>(v);
    const int owner = uv < node_block_.size() ? node_block_[uv] : -1;
    if (owner < 0) continue;
    if (b >= 0 && owner != b) return std::nullopt;
    b = owner;
    ++common;
  }
  if (b < 0) return std::nullopt;
  const auto ub = static_cast<std::size_t>(b);
  const std::size_t n = nodes_[ub].size();
  if (common != n || common == m || m - n > kMaxExtraNodes) return std::nullopt;
  const std::size_t k = m - n;
  const BlockInverse* inverse = recorded_inverse(ub);
  if (inverse == nullptr || !inverse->counts(tol)) return std::nullopt;
  const std::vector<double>& binv = inverse->inverse;

  extra_.assign(m, -1);
  int next = 0;
  for (std::size_t i = 0; i < m; ++i) {
    if (node_block_[static_cast<std::size_t>(block.nodes[i])] != b) extra_[i] = next++;
  }
  // B's edges must be exactly the recorded ones; E and D come from the rest.
  // Rows of B keep their order in the grown block (both ascend by node id),
  // so B's entries appear in the recorded order.
  const std::vector<counts::MatrixEntry>& recorded = entries_[ub];
  std::size_t at = 0;
  y_.assign(n * k, 0.0);
  s_.assign(k * k, 0.0);
  extra_edges_.clear();
  for (const counts::MatrixEntry& e : block.entries) {
    const int xr = extra_[static_cast<std::size_t>(e.row)];
    const int xc = extra_[static_cast<std::size_t>(e.col)];
    if (xr < 0 && xc < 0) {
      const int r = node_row_[static_cast<std::size_t>(block.nodes[static_cast<std::size_t>(e.row)])];
      const int c = node_row_[static_cast<std::size_t>(block.nodes[static_cast<std::size_t>(e.col)])];
      if (at == recorded.size() || recorded[at].row != r || recorded[at].col != c || recorded[at].weight != e.weight) {
        return std::nullopt;
      }
      ++at;
    } else if (xr >= 0 && xc >= 0) {
      s_[static_cast<std::size_t>(xc) * k + static_cast<std::size_t>(xr)] += e.weight;
      s_[static_cast<std::size_t>(xr) * k + static_cast<std::size_t>(xc)] += e.weight;
    } else {
      const int x = xr >= 0 ? xr : xc;
      const int inside = block.nodes[static_cast<std::size_t>(xr >= 0 ? e.col : e.row)];
      extra_edges_.push_back({x, node_row_[static_cast<std::size_t>(inside)], e.weight});
    }
  }
  if (at != recorded.size()) return std::nullopt;

  // Y = B^-1 E, then S = D - E^T Y.
  for (const ExtraEdge& e : extra_edges_) {
    const double* column = binv.data() + static_cast<std::size_t>(e.row) * n;
    double* y = y_.data() + static_cast<std::size_t>(e.extra) * n;
    for (std::size_t i = 0; i < n; ++i) y[i] += e.weight * column[i];
  }
  for (const ExtraEdge& e : extra_edges_) {
    for (std::size_t j = 0; j < k; ++j) {
      s_[j * k + static_cast<std::size_t>(e.extra)] -= e.weight * y_[j * n + static_cast<std::size_t>(e.row)];
    }
  }
  double y_norm = 0.0;
  for (double v : y_) y_norm += v * v;
  y_norm = std::sqrt(y_norm);
  solver_.eigenvalues(static_cast<int>(k), s_, mu_);
  counts::LpiCounts counts;
  counts.n_plus = inverse->positive;
  counts.n_minus = inverse->negative;
  double smallest = std::numeric_limits<double>::infinity();
  for (double mu : mu_) {
    smallest = std::min(smallest, std::abs(mu));
    counts.n_plus += mu > 0.0 ? 1 : 0;
    counts.n_minus += mu < 0.0 ? 1 : 0;
  }
  // ||N^-1|| <= ||B^-1|| + (1 + ||Y||)^2 ||S^-1||, Frobenius norms bounding the 2-norms.
  const double bound = 1.0 / inverse->min_abs_eigenvalue + (1.0 + y_norm) * (1.0 + y_norm) / smallest;
  if (!(smallest > 0.0) || !std::isfinite(bound) || !(1.0 / bound > EdgeRemovalScreen::kClearMargin * tol))
    return std::nullopt;
  return counts;
}

}  // namespace tessarin::counts
