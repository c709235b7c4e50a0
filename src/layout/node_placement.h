// Directions and drawing positions of the orbital nodes around one atom: nodes
// point along the atom's bonds (a fan of directions for a multiple bond), and
// nodes without a bond fill the widest empty arcs.
#pragma once

#include <span>
#include <vector>

#include "layout/point2.h"

namespace tessarin::layout {

// Angular step (radians) between the directions one multiple bond asks for.
inline constexpr double kSpread = 0.35;

// One neighbour of the atom being placed: its centre and the order of the bond
// to it (orders below 1 count as 1). Given in the atom's GetNeighbors() order.
struct NeighbourBond {
  Point2 centre;
  int order = 1;
};

// Directions the atom's bonds ask for, most important first: for each
// neighbour whose centre does not coincide with `centre`, k = clamp(order, 1,
// n_nodes) directions spaced kSpread apart and centred on the bond direction
// (atan2, not reduced to a range). Cut to the first `n_nodes` entries.
// Throws InvalidInput for n_nodes < 1.
std::vector<double> target_angles(Point2 centre, std::span<const NeighbourBond> neighbours, int n_nodes);

// Node directions: the first n_nodes targets unchanged and in order, then
// bisectors of the widest empty arc, one at a time (ties go to the arc that
// starts at the smallest angle in [0, 2*pi)). A lone target gets its opposite
// first; no targets give n_nodes evenly spaced directions from 0; a single node
// always gets 0. Throws InvalidInput for n_nodes < 1 or a used target that is
// not finite.
std::vector<double> orbital_node_directions(int n_nodes, std::span<const double> target_angles);

// radius = target_bond_len * radius_ratio: distance of every node from its atom.
inline double node_radius(double target_bond_len, double radius_ratio) { return target_bond_len * radius_ratio; }

// Position of a node at `angle` on the circle of `radius` around `centre`.
Point2 node_position(Point2 centre, double radius, double angle);

// One orbital node placed: its id, drawing position and direction.
struct NodePlacement {
  int node = 0;
  Point2 position;
  double angle = 0.0;
};

// The placement step of one atom: target angles from its bonds, node
// directions from those, and a position for each of `nodes` (sigma nodes first,
// as created) paired in order with the directions. The result, in the order of
// `nodes`, is also the atom's node -> angle map.
std::vector<NodePlacement> place_atom_nodes(Point2 centre, std::span<const NeighbourBond> neighbours,
                                            std::span<const int> nodes, double radius);

}  // namespace tessarin::layout
