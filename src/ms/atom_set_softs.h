// Soft bonds inside a fragment: the soft-bond test run on the orbital
// subgraph of an atom set, against that subgraph's own counts.
//
// The subgraph is never built: each count runs on the molecule's index graph
// restricted to the atom set's nodes, with the tested edge masked. One engine
// serves every atom set of a molecule and keeps its workspaces; in its fast
// mode it peels pendant pairs and remembers the dense counts of the ring
// cores left over (counts::MemoCoreCounter), which different atom sets and removed
// bonds mostly share.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/interrupt.h"
#include "counts/atom_set_cores.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "counts/lpi.h"
#include "vif/orbital_graph.h"

namespace tessarin::ms {

// What the atom-set tests read from a bond record.
struct OrbitalBond {
  int atom_u = -1;  // atom ids; -1 for an atom that no atom set can hold
  int atom_v = -1;
  int u_node = -1;  // node ids in the graph; -1 for a node that is not in it
  int v_node = -1;
  std::optional<std::size_t> edge;  // the edge joining u_node and v_node, if any
  int order = 1;                    // bond order (1 when the record has none)
};

// A molecule's orbital graph seen atom by atom.
struct MoleculeOrbitals {
  counts::IndexGraph graph;
  // Per atom id: its nodes in the graph (ascending, each once), or nullopt
  // when the atom has no entry at all (counting an atom set that holds it
  // then throws MissingKey).
  std::vector<std::optional<std::vector<int>>> atom_nodes;
  std::vector<OrbitalBond> bonds;  // in record order
};

// The orbitals of an analysed molecule: atom ids are the RDKit indices.
MoleculeOrbitals molecule_orbitals(const vif::OrbitalGraph& orbital);

// How the counts are taken.
enum class SoftTestPath {
  fast,   // peeled where counts::peeling_applies(), with the core memo; dense otherwise
  plain,  // dense eigenvalues of the whole atom-set subgraph for every count
};

// Tallies of the counts made by one engine.
struct SoftTestStats {
  long long atom_sets = 0;     // atom sets tested
  long long counts = 0;        // LPI counts (one baseline per atom set, one per candidate bond)
  long long isolated = 0;      // candidates judged without a count: their deletion isolates a node
  long long rank_two = 0;      // candidates judged without a count: inside a core block, by its inverse
  long long extended = 0;      // core blocks counted as a known block plus a few nodes
  long long peeled_away = 0;   // counts whose graph peeled away completely
  long long memo_hits = 0;     // counts without a dense solve (memo or extension)
  long long dense_counts = 0;  // counts that needed at least one dense eigensolve
  long long dense_blocks = 0;  // dense eigensolves made
  long long dense_nodes = 0;   // node counts of the matrices solved densely, summed
  int largest_dense = 0;       // node count of the largest matrix solved densely
};

class AtomSetSoftBonds {
 public:
  // `orbitals` must outlive the engine. Throws InvalidInput for a NaN tol.
  AtomSetSoftBonds(const MoleculeOrbitals& orbitals, double tol, SoftTestPath path = SoftTestPath::fast);
  AtomSetSoftBonds(const AtomSetSoftBonds&) = delete;
  AtomSetSoftBonds& operator=(const AtomSetSoftBonds&) = delete;

  // Positions in orbitals.bonds (ascending) of the records that are soft
  // inside the atom set: both atoms in the set, both nodes among the set's
  // nodes and joined by an edge, and the counts without that edge equal to
  // the counts of the set's subgraph. The atom set may list an atom twice.
  // Throws IndexOutOfRange for an atom id outside orbitals.atom_nodes and
  // MissingKey for an atom without entry.
  // `poll` is called before every candidate bond.
  std::vector<std::size_t> soft_bonds(std::span<const int> atom_set, const core::InterruptCheck& poll = {});

  const SoftTestStats& stats() const { return stats_; }

 private:
  counts::LpiCounts count(std::span<const std::size_t> removed);

  const MoleculeOrbitals& orbitals_;
  double tol_;
  counts::CountMethod method_;
  counts::AtomSetCores cores_;
  counts::InertiaCounter counter_;
  SoftTestStats stats_;
  std::vector<char> atom_in_;
  std::vector<char> node_in_;
  std::vector<int> nodes_;
};

}  // namespace tessarin::ms
