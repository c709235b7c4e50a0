// Cutting bonds of a molecule, or of any subset of its atoms, and finding the
// pieces. A cut is judged within the connected part of the atom graph that
// holds the cut bonds, so a salt or mixture behaves like its parts taken
// one at a time: cutting a ring bond of one ion never "splits" the input into
// its ions, and cutting a chain bond splits its own part in two.
#pragma once

#include <GraphMol/ROMol.h>

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace tessarin::ms {

// An atom pair, smaller index first.
struct AtomPair {
  int a = 0;
  int b = 0;

  static AtomPair sorted(int i, int j) { return i < j ? AtomPair{i, j} : AtomPair{j, i}; }
  bool operator==(const AtomPair&) const = default;
  auto operator<=>(const AtomPair&) const = default;
};

struct Cut {
  bool same_part = false;  // all cut bonds lie in one connected part
  int piece_count = 0;     // pieces that part falls into (1: it stays whole)
  // With exactly two pieces: their atoms ascending, the piece holding the
  // smaller atom index first.
  std::array<std::vector<int>, 2> pieces;

  bool split() const { return same_part && piece_count == 2; }
};

// The bond graph of a molecule restricted to an atom set: one node per atom
// of the set, one edge per bond of the molecule whose atoms both lie in it.
// Keeps workspaces for cut(), so one instance is not for concurrent use.
class AtomGraph {
 public:
  // Every atom of the molecule.
  explicit AtomGraph(const RDKit::ROMol& mol);
  // The atoms listed (any order, repeats ignored); throws IndexOutOfRange
  // for an index outside the molecule.
  AtomGraph(const RDKit::ROMol& mol, std::span<const int> atoms);

  // Atoms of the set, ascending.
  const std::vector<int>& atoms() const { return atoms_; }
  bool contains(int atom) const;
  bool has_bond(int i, int j) const;

  // Leave out every bond of `bonds` and list the pieces of the part that
  // holds them. Every pair must be a bond of this graph (has_bond); a pair
  // given twice counts once. Throws InvalidInput otherwise.
  Cut cut(std::span<const AtomPair> bonds);

  // The pieces that every bond of `bonds` borders (one atom inside, the
  // other outside) once they are all left out, each as its atoms ascending,
  // the piece holding the smaller atom first. One bond that splits its part
  // borders both sides; two bonds of a chain border the piece between them;
  // two ring bonds that split their ring system border both pieces. Bonds
  // of different parts, and a set with a bond inside one piece, border
  // nothing. The bonds as for cut().
  std::vector<std::vector<int>> bordered_pieces(std::span<const AtomPair> bonds);

 private:
  void build(const RDKit::ROMol& mol);
  int local(int atom) const;
  std::optional<int> bond_id(int i, int j) const;
  // Bond ids of `bonds` and the part holding them; no part (-1) when they
  // lie in different parts. Throws InvalidInput for a pair that is no bond.
  int cut_bond_ids(std::span<const AtomPair> bonds, std::vector<int>& ids) const;
  // Labels the positions of `part` (label_) by piece once the bonds `ids`
  // are left out; returns the number of pieces. `visit(piece)` is called
  // as each piece is complete, with its positions in queue_.
  template <class Visit>
  int label_pieces(int part, const std::vector<int>& ids, Visit&& visit);

  std::vector<int> atoms_;                      // set members, ascending
  std::vector<int> local_;                      // molecule atom index -> position in atoms_, -1 outside
  std::vector<int> offset_;                     // CSR over positions
  std::vector<int> neighbour_;                  // neighbour positions
  std::vector<int> bond_;                       // bond id of each slot
  std::vector<int> part_;                       // connected part of each position
  std::vector<std::vector<int>> part_members_;  // positions of each part, ascending
  // cut() workspaces
  std::vector<char> bond_off_;
  std::vector<int> label_;
  std::vector<int> queue_;
  std::vector<int> ids_;
};

}  // namespace tessarin::ms
