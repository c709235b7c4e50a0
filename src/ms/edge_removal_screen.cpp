#include "ms/edge_removal_screen.h"

#include <cmath>

#include "core/symmetric_inverse.h"
#include "ms/inertia.h"

namespace tessarin::ms {
namespace {

// det S counts as clearly non-zero above this fraction of its terms' size.
constexpr double kDecisiveDet = 1e-5;

}  // namespace

EdgeRemovalScreen::EdgeRemovalScreen(const IndexGraph& graph, vif::LpiCounts baseline, double tol)
    : graph_(graph) {
  active_ = baseline.n_zero == 0 && peeling_applies(graph, tol);
  if (!active_) return;
  const int n = graph.node_count();
  if (n == 0 || n > kMaxInverseNodes) return;
  const auto un = static_cast<std::size_t>(n);
  std::vector<double> a(un * un, 0.0);
  for (const IndexEdge& e : graph.edges()) {
    a[static_cast<std::size_t>(e.v) * un + static_cast<std::size_t>(e.u)] += e.weight;
    a[static_cast<std::size_t>(e.u) * un + static_cast<std::size_t>(e.v)] += e.weight;
  }
  if (!core::invert_symmetric(n, a, EdgeRemovalScreen::kMinRcond)) return;
  // The update tells whether a deletion keeps the graph's own counts; that
  // answers the question only when the caller's baseline is those counts.
  InertiaCounter counter;
  if (counter.count(graph, {}, tol, CountMethod::peeled) == baseline) inverse_ = std::move(a);
}

EdgeRemovalScreen::Verdict EdgeRemovalScreen::judge(std::size_t edge_id) const {
  if (!active_) return Verdict::undecided;
  const IndexEdge& e = graph_.edge(edge_id);
  if (e.weight == 0.0) return Verdict::undecided;
  if (graph_.neighbours(e.u).size() == 1 || graph_.neighbours(e.v).size() == 1) return Verdict::not_soft;
  if (inverse_.empty()) return Verdict::undecided;

  const auto n = static_cast<std::size_t>(graph_.node_count());
  const auto u = static_cast<std::size_t>(e.u);
  const auto v = static_cast<std::size_t>(e.v);
  return rank_two(inverse_[u * n + u], inverse_[v * n + u], inverse_[v * n + v], e.weight);
}

EdgeRemovalScreen::Verdict EdgeRemovalScreen::rank_two(double a, double b, double c, double w) {
  const double t = 1.0 / w - b;
  const double det = a * c - t * t;
  const double scale = std::abs(a * c) + t * t + 1.0 / (w * w);
  if (!(std::abs(det) > kDecisiveDet * scale)) return Verdict::undecided;
  return det < 0.0 ? Verdict::soft : Verdict::not_soft;
}

}  // namespace tessarin::ms
