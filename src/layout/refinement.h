// Small geometric passes over an atom layout: symmetry classes, equal radii
// within a class, principal-axis alignment and mirror pairing, plus the angle
// comparison used when bonds are matched to orbital nodes.
//
// The arithmetic follows NumPy's evaluation order step by step (sequential
// column sums for means over rows, pairwise summation for the mean of a
// vector, LAPACK dsyevd for the principal axes), so the results agree bit for
// bit with a plain NumPy implementation of the same steps.
#pragma once

#include <span>
#include <vector>

#include "core/interrupt.h"
#include "layout/point2.h"

namespace RDKit {
class ROMol;
}

namespace tessarin::layout {

// Floored remainder as Python's float `%` computes it: the result has the
// sign of `m` (for m > 0 it lies in [0, m], m itself only through rounding).
double floored_mod(double x, double m);

// Smaller angle between two directions (radians), in [0, pi].
double angle_diff(double a, double b);

// Canonical atom ranks without tie-breaking: symmetry-equivalent atoms share a
// value. If RDKit cannot rank the molecule (for example because its valences
// were never computed), every atom is its own class: 0, 1, ..., n-1.
std::vector<int> symmetry_classes(const RDKit::ROMol& mol);

// Atoms of each class, indices ascending; classes in the order in which their
// value first occurs when the atoms are scanned from index 0.
std::vector<std::vector<int>> symmetry_groups(std::span<const int> ranks);

// For every group of two or more members, in order: move each member along its
// ray from the group's centroid to the group's mean distance from it. Members
// at the centroid stay put; a group whose members all sit at its centroid is
// skipped. Throws IndexOutOfRange for a member outside `coords`.
void radial_equalize(std::span<Point2> coords, std::span<const std::vector<int>> groups);

// Centres `coords` in place and returns them rotated so that x runs along the
// direction of greatest spread (a proper rotation, never a reflection). With
// fewer than two rows the centred rows are returned unrotated. Throws
// InvalidInput when the coordinates are not finite.
std::vector<Point2> pca_align(std::span<Point2> coords);

// Makes the layout symmetric under x -> -x (axis 0) or y -> -y (axis 1), in
// place: rows within `eps` of the mirror line are snapped onto it; every other
// row is paired with the nearest unpaired row of the same class on the other
// side, and both move half-way to exact mirror images. Throws InvalidInput for
// an axis other than 0 or 1 or a `ranks` of the wrong length. `poll` is
// called once per row of the pairing pass.
void enforce_mirror(std::span<Point2> coords, std::span<const int> ranks, int axis, double eps = 0.05,
                    const core::InterruptCheck& poll = {});

// NumPy's pairwise summation (the order `ndarray.sum` and `mean` use for a
// contiguous vector).
double pairwise_sum(std::span<const double> values);

}  // namespace tessarin::layout
