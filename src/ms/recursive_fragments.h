// Multi-generation fragmentation: every piece is treated as an ion of its
// own, its soft bonds are found again inside it, and it is cut again, for a
// bounded number of generations. The result is a peak map from nominal m/z
// to the formula and generation of the first piece that reached it.
#pragma once

#include <GraphMol/ROMol.h>

#include <functional>
#include <string>
#include <vector>

#include "core/interrupt.h"
#include "ms/atom_set_softs.h"

namespace tessarin::ms {

// The first piece found with a nominal m/z. The fragmentation returns one per
// m/z reached, in discovery order, the molecular ion first.
struct GenerationPeak {
  int mz = 0;
  std::string formula;  // formula of that piece
  int generation = 0;   // 0 for the molecular ion, n + 1 for a piece cut from generation n
  bool operator==(const GenerationPeak&) const = default;
};

struct RecursiveOptions {
  int max_generations = 3;  // pieces of this generation are recorded but not cut
  double min_mz = 25.0;     // average-mass floor of ring double cuts (inclusive)
  bool ring_fragmentation = true;
  double tol = 1e-9;  // threshold of the soft-bond counts
  SoftTestPath path = SoftTestPath::fast;
};

// Breadth first from the whole molecule (atoms 0 .. n-1 of `mol`, whose ids
// `orbitals` uses): a piece is expanded once however many parents give it,
// and an m/z keeps the first piece that reached it. The children of one
// expansion are visited in ascending lexicographic order of their sorted
// atom indices, so results do not depend on any hashing.
//
// `poll`, when given, is called before each expansion and before every cut
// of one, and may throw to abandon the run. `stats`, when given, receives the tallies of the counts.
// Errors of the soft-bond test (atoms without orbital entry, ...) and of the
// cutter propagate; nothing partial is returned.
std::vector<GenerationPeak> predict_fragments_recursive(const RDKit::ROMol& mol, const MoleculeOrbitals& orbitals,
                                                        const RecursiveOptions& options, SoftTestStats* stats = nullptr,
                                                        const core::InterruptCheck& poll = {});

}  // namespace tessarin::ms
