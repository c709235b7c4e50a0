// 2D positions of a molecule's atoms for drawing: RDKit's depiction, relaxed
// by bond springs and short-range repulsion, then aligned to its principal
// axes and made mirror-symmetric within symmetry classes.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "core/interrupt.h"
#include "layout/point2.h"

namespace RDKit {
class ROMol;
}

namespace tessarin::layout {

struct LayoutParams {
  int n_iter = 600;               // relaxation iterations, always all run
  double target_bond_len = 1.5;   // rest length of every bond spring
  double repulsion_factor = 1.2;  // non-bonded atoms closer than target_bond_len * this repel
  double k_attr = 0.06;           // spring constant of bonds
  double k_rep = 0.05;            // strength of the repulsion
};

struct AtomLayout {
  std::vector<Point2> coords;  // row i: atom i
  std::vector<int> ranks;      // symmetry class of each atom (symmetry_classes)
};

struct BondPair {
  int begin = 0;
  int end = 0;
};

// How the relaxation finds the non-bonded pairs within repulsion range. Both
// give bit-identical results; the neighbour list skips pairs that cannot be
// in range, the exhaustive search is the plain reference.
enum class PairSearch { neighbour_list, all_pairs };

// Throws InvalidInput unless n_iter >= 0, every length and constant is finite
// and target_bond_len > 0.
void check_layout_params(const LayoutParams& params);

// CoordGen's 2D depiction of `mol` (coordgen_depiction), which keeps the
// conformer: the same for the same molecule whatever was depicted before and
// whatever other threads do. RDKit's preference for CoordGen is switched on
// process-wide too (it stays on, for the caller's later depictions). Where
// CoordGen gives non-finite positions (molecules made only of hydrogen), the
// depiction is redone once with RDKit's own depictor.
std::vector<Point2> depict_2d(RDKit::ROMol& mol);

// Everything after the depiction: coincident atoms pushed apart by seeded
// normal draws, `n_iter` relaxation steps with radial equalisation of the
// symmetry classes, principal-axis alignment, and the mirror passes across the
// x axis and then the y axis. A single row is returned as it is. Throws
// IndexOutOfRange for a bond to a missing row, InvalidInput for a `ranks` of
// the wrong length, bad parameters, or a relaxation that diverges (non-finite
// coordinates). `poll` is called every 8 relaxation iterations and per row
// of the quadratic passes (coincident atoms, mirror pairing).
std::vector<Point2> refine_layout(std::vector<Point2> coords, std::span<const BondPair> bonds,
                                  std::span<const int> ranks, const LayoutParams& params,
                                  PairSearch search = PairSearch::neighbour_list,
                                  const core::InterruptCheck& poll = {});

// Seconds spent in the two halves of a layout, for benchmarks.
struct LayoutTiming {
  double depiction = 0.0;   // RDKit's depiction
  double refinement = 0.0;  // symmetry classes and refine_layout
};

// What makes the depiction of a layout: depict_2d, or a stand-in that gives
// `mol` the conformer depict_2d would and returns its coordinates (one that
// depicts in another process, say, so that the caller can stop it).
using Depicter = std::function<std::vector<Point2>(RDKit::ROMol& mol)>;

// The whole layout: depiction (mol keeps its 2D conformer), symmetry classes,
// refinement. The same molecule and parameters always give the same result.
// When `timing` is given, it receives the time of each half. `poll` is called
// after the depiction (which runs uninterrupted inside RDKit) and throughout
// the refinement. `depict` (default depict_2d) makes the depiction.
AtomLayout compute_atom_layout(RDKit::ROMol& mol, const LayoutParams& params = {}, LayoutTiming* timing = nullptr,
                               const core::InterruptCheck& poll = {}, const Depicter& depict = {});

}  // namespace tessarin::layout
