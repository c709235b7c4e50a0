#include "layout/node_placement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <queue>
#include <string>

#include "core/errors.h"
#include "layout/refinement.h"

namespace tessarin::layout {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// An empty arc between two neighbouring directions (both in [0, 2*pi]),
// counter-clockwise from `start` to `end`.
struct Arc {
  double width;
  double start;
  double end;
};

// Widest first; among equally wide arcs the one starting at the smallest angle.
struct NarrowerOrLater {
  bool operator()(const Arc& a, const Arc& b) const {
    if (a.width != b.width) return a.width < b.width;
    return a.start > b.start;
  }
};

Arc arc_between(double start, double end) { return Arc{floored_mod(end - start, kTwoPi), start, end}; }

}  // namespace

std::vector<double> target_angles(Point2 centre, std::span<const NeighbourBond> neighbours, int n_nodes) {
  if (n_nodes < 1) throw InvalidInput("an atom has at least one orbital node, not " + std::to_string(n_nodes));
  std::vector<double> angles;
  for (const NeighbourBond& nb : neighbours) {
    const double dx = nb.centre.x - centre.x;
    const double dy = nb.centre.y - centre.y;
    if (std::sqrt(dx * dx + dy * dy) < 1e-9) continue;
    const double base = std::atan2(dy, dx);
    const int k = std::max(std::min(nb.order, n_nodes), 1);
    for (int j = 0; j < k; ++j) angles.push_back(base + (j - (k - 1) / 2.0) * kSpread);
  }
  if (angles.size() > static_cast<std::size_t>(n_nodes)) angles.resize(static_cast<std::size_t>(n_nodes));
  return angles;
}

std::vector<double> orbital_node_directions(int n_nodes, std::span<const double> targets) {
  if (n_nodes < 1) throw InvalidInput("an atom has at least one orbital node, not " + std::to_string(n_nodes));
  if (n_nodes == 1) return {0.0};
  const std::size_t wanted = static_cast<std::size_t>(n_nodes);
  const std::size_t given = std::min(wanted, targets.size());
  for (double a : targets.first(given)) {
    if (!std::isfinite(a)) throw InvalidInput("target angles must be finite numbers");
  }
  std::vector<double> angles(wanted);
  if (given == 0) {
    const double step = kTwoPi / n_nodes;
    for (std::size_t i = 0; i < wanted; ++i) angles[i] = static_cast<double>(i) * step;
    return angles;
  }
  std::copy_n(targets.begin(), given, angles.begin());
  std::size_t count = given;
  if (count == 1) angles[count++] = floored_mod(floored_mod(angles[0], kTwoPi) + std::numbers::pi, kTwoPi);
  if (count == wanted) return angles;

  // Every added direction bisects the widest arc between the directions
  // present; only that arc changes, splitting in two. Directions are compared
  // reduced into [0, 2*pi); added ones already are.
  std::vector<double> reduced(count);
  std::transform(angles.begin(), angles.begin() + count, reduced.begin(),
                 [](double a) { return floored_mod(a, kTwoPi); });
  std::sort(reduced.begin(), reduced.end());
  std::priority_queue<Arc, std::vector<Arc>, NarrowerOrLater> arcs;
  for (std::size_t i = 0; i < count; ++i) arcs.push(arc_between(reduced[i], reduced[(i + 1) % count]));
  while (count < wanted) {
    const Arc widest = arcs.top();
    arcs.pop();
    const double middle = floored_mod(widest.start + widest.width / 2.0, kTwoPi);
    angles[count++] = middle;
    arcs.push(arc_between(widest.start, middle));
    arcs.push(arc_between(middle, widest.end));
  }
  return angles;
}

Point2 node_position(Point2 centre, double radius, double angle) {
  return Point2{centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)};
}

std::vector<NodePlacement> place_atom_nodes(Point2 centre, std::span<const NeighbourBond> neighbours,
                                            std::span<const int> nodes, double radius) {
  const int n_nodes = static_cast<int>(nodes.size());
  const std::vector<double> angles = orbital_node_directions(n_nodes, target_angles(centre, neighbours, n_nodes));
  std::vector<NodePlacement> placed;
  placed.reserve(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    placed.push_back(NodePlacement{nodes[i], node_position(centre, radius, angles[i]), angles[i]});
  }
  return placed;
}

}  // namespace tessarin::layout
