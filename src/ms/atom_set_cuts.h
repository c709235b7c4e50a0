// Cutting one atom set (a fragment) at its soft bonds, as the multi-generation
// fragmentation does for every piece it meets.
#pragma once

#include <GraphMol/ROMol.h>

#include <span>
#include <vector>

#include "core/interrupt.h"
#include "ms/fragments.h"

namespace tessarin::ms {

// The pieces left by cutting `atom_set` (atom indices of `mol`, any order,
// repeats ignored) at the soft bonds of `softs` that lie inside it, each
// piece as its atoms ascending; the pieces themselves in ascending
// lexicographic order, each once.
//
// Records of one atom pair make one cut; the highest order among them
// decides the multiple-bond rule. A single cut that divides the connected
// part holding the bond into two adds both pieces, unless the order is 2 or
// more and the side with fewer heavy atoms has exactly one. A cut that leaves
// its part whole makes the bond a ring bond. With `ring_fragmentation`,
// every two ring bonds of one part that divide it into two add both pieces
// when the lighter piece's average mass is at least `min_mz`.
//
// Throws IndexOutOfRange for an atom of the set outside the molecule and
// InvalidInput for a NaN `min_mz`. `poll` is called before every cut.
std::vector<std::vector<int>> cut_atom_set(const RDKit::ROMol& mol, std::span<const int> atom_set,
                                           std::span<const SoftBond> softs, bool ring_fragmentation, double min_mz,
                                           const core::InterruptCheck& poll = {});

}  // namespace tessarin::ms
