#include "counts/edge_removal_screen.h"

#include <cmath>

#include "core/symmetric_inverse.h"
#include "counts/inertia.h"

namespace tessarin::counts {
namespace {

// det S counts as clearly non-zero above this fraction of its terms' size.
constexpr double kDecisiveDet = 1e-5;

}  // namespace

EdgeRemovalScreen::EdgeRemovalScreen(const IndexGraph& graph, counts::LpiCounts baseline, double tol)
    : graph_(graph), tol_(tol) {
  active_ = baseline.n_zero == 0 && peeling_applies(graph, tol);
  if (!active_) return;
  const int n = graph.node_count();
  if (n == 0 || n > kMaxInverseNodes) return;
  const auto un = static_cast<std::size_t>(n);
  std::vector<double> a(un * un, 0.0);
  for (const core::WeightedEdge& e : graph.edges()) {
    a[static_cast<std::size_t>(e.v) * un + static_cast<std::size_t>(e.u)] += e.weight;
    a[static_cast<std::size_t>(e.u) * un + static_cast<std::size_t>(e.v)] += e.weight;
  }
  if (!core::invert_symmetric(n, a, EdgeRemovalScreen::kMinRcond)) return;
  // The update tells whether a deletion keeps the graph's own counts; that
  // answers the question only when the caller's baseline is those counts.
  InertiaCounter counter;
  if (counter.count(graph, {}, tol, CountMethod::peeled) != baseline) return;
  double norm = 0.0;
  for (double x : a) norm += x * x;
  inverse_norm_ = std::sqrt(norm);
  if (std::isfinite(inverse_norm_)) inverse_ = std::move(a);
}

EdgeRemovalScreen::Verdict EdgeRemovalScreen::judge(std::size_t edge_id) const {
  if (!active_) return Verdict::undecided;
  const core::WeightedEdge& e = graph_.edge(edge_id);
  if (e.weight == 0.0) return Verdict::undecided;
  if (graph_.neighbours(e.u).size() == 1 || graph_.neighbours(e.v).size() == 1) return Verdict::not_soft;
  if (inverse_.empty()) return Verdict::undecided;

  return rank_two(inverse_, static_cast<std::size_t>(graph_.node_count()), inverse_norm_, static_cast<std::size_t>(e.u),
                  static_cast<std::size_t>(e.v), e.weight, tol_);
}

EdgeRemovalScreen::Verdict EdgeRemovalScreen::rank_two(std::span<const double> inverse, std::size_t n,
                                                       double inverse_norm, std::size_t u, std::size_t v, double w,
                                                       double tol) {
  const double a = inverse[u * n + u];
  const double b = inverse[v * n + u];
  const double c = inverse[v * n + v];
  const double t = 1.0 / w - b;
  const double det = a * c - t * t;
  const double scale = std::abs(a * c) + t * t + 1.0 / (w * w);
  if (!(std::abs(det) > kDecisiveDet * scale)) return Verdict::undecided;
  if (det > 0.0) return Verdict::not_soft;

  // Same inertia; the same counts only if the edited matrix keeps clear of tol.
  double columns = 0.0;  // ||A^-1 U||_F^2
  for (std::size_t i = 0; i < n; ++i)
    columns += inverse[u * n + i] * inverse[u * n + i] + inverse[v * n + i] * inverse[v * n + i];
  const double s_norm = std::sqrt(a * a + c * c + 2.0 * t * t);
  const double bound = inverse_norm + columns * s_norm / std::abs(det);
  if (!std::isfinite(bound) || !(1.0 / bound > kClearMargin * tol)) return Verdict::undecided;
  return Verdict::soft;
}

}  // namespace tessarin::counts
