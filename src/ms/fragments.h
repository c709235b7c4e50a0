// Predicted EI-MS fragments of the molecular ion: every soft bond cut on its
// own, and on request pairs of soft ring bonds cut together.
#pragma once

#include <GraphMol/ROMol.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/interrupt.h"

namespace tessarin::ms {

// One piece of one cut.
struct FragmentTuple {
  std::string formula;  // core::fragment_formula of the piece
  double average_mass;  // sum of average atomic masses, correctly rounded to 2 decimals (ties to even)
  int mz;               // nominal mass of the piece as a singly charged ion (labelled atoms at their label)
  bool operator==(const FragmentTuple&) const = default;
};

// How an entry was cut: one bond, or two bonds of one ring together.
enum class CutMode { single, ring };

// "single" or "ring", as results and records write it.
const char* cut_mode_name(CutMode mode);

struct FragmentEntry {
  std::string bond;  // "C1-O2" for a single cut, "C0-C1 + C3-C4" for a ring double cut
  bool split = false;
  CutMode mode = CutMode::single;
  std::optional<std::vector<FragmentTuple>> fragments;  // m/z descending; none when not split
};

// What the cutters read from a soft bond record. The symbols only label the
// cut. Atom ids may lie outside a molecule (from a caller's records): the
// fragment predictor refuses them, the atom-set cutter finds them in no set.
// Without an order a bond counts as single where the order matters; the
// fragment predictor wants one for every cut that splits.
struct SoftBond {
  long long atom_u = -1;
  long long atom_v = -1;
  std::string sym_u;
  std::string sym_v;
  std::optional<int> order;
};

// Tuple of one piece (atom indices of `mol`, each once).
FragmentTuple fragment_tuple(const RDKit::ROMol& mol, std::span<const int> piece);

// Tuples of several pieces, sorted by m/z descending; equal m/z keep the
// order of `pieces`.
std::vector<FragmentTuple> fragment_list(const RDKit::ROMol& mol, std::span<const std::vector<int>> pieces);

// Atoms of the piece with atomic number above 1.
int heavy_atom_count(const RDKit::ROMol& mol, std::span<const int> piece);

// The same three for many pieces of one molecule: what they read of each
// atom (formula term, masses, heavy or not) is taken from RDKit once, so a piece
// costs a pass over plain arrays. Results equal the functions above, bit for
// bit (masses are summed in the piece's order), and so do the exceptions.
class PieceTuples {
 public:
  explicit PieceTuples(const RDKit::ROMol& mol);
  FragmentTuple tuple(std::span<const int> piece) const;
  std::vector<FragmentTuple> list(std::span<const std::vector<int>> pieces) const;
  int heavy_atoms(std::span<const int> piece) const;
  double average_mass(std::span<const int> piece) const;

 private:
  void check(std::span<const int> piece) const;

  std::vector<std::string> terms_;   // text of the formula terms present, in formula order
  std::vector<int> term_of_;         // per atom: its place in terms_
  std::vector<int> nominal_;         // per atom: core::atom_nominal_mass
  std::vector<double> mass_;         // per atom: average mass, as RDKit gives it
  std::vector<char> heavy_;          // per atom: atomic number above 1
  mutable std::vector<int> counts_;  // per term, for one piece
};

// Fragment entries of the soft bonds of `mol` (explicit hydrogens expected).
//
// Single cuts, in record order: a second record of an atom pair is ignored;
// a pair that is not bonded is skipped. A cut that divides the connected
// part holding the bond into two gives a split entry with both pieces,
// except that a bond of order >= 2 is not cut where one side would hold a
// single heavy atom (no entry at all). Any other bond lies in a ring: a
// non-split entry, and the pair becomes a ring pair.
//
// Ring double cuts, only with `ring_fragmentation`: every two ring pairs
// that lie in one connected part and divide it into two give a "ring"
// entry, unless the lighter piece's m/z is below `min_ring_fragment_mz` or
// the same two m/z values were already reported.
//
// Throws IndexOutOfRange for a record atom outside the molecule,
// InvalidInput for a NaN floor, MissingKey as said for `order`. `poll` is
// called before every cut.
std::vector<FragmentEntry> predict_fragments(const RDKit::ROMol& mol, std::span<const SoftBond> softs,
                                             bool ring_fragmentation, double min_ring_fragment_mz,
                                             const core::InterruptCheck& poll = {});

}  // namespace tessarin::ms
