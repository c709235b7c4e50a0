// Soft bonds: bond edges whose deletion leaves the LPI counts unchanged.
//
// Each candidate is tested against the intact graph with only its own edge
// left out; the graph itself is never edited (the edge is masked in the
// count), so it is the same before, during and after a call, also when the
// call fails.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/interrupt.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "counts/lpi.h"
#include "vif/orbital_graph.h"

namespace tessarin::ms {

// Positions in `candidates` whose edge is soft, ascending. With the automatic
// method most candidates are judged by the counts::EdgeRemovalScreen from the intact
// graph, the rest by peeled (or, where peeling does not apply, dense) counts;
// the explicit methods count every candidate their way. A candidate is the
// id of the edge to leave out, or nullopt for a bond without an edge in the
// graph (never soft, costs no count). The counts of each test are compared
// with `baseline` (n+, n0 and n- all equal). Throws InvalidInput for a NaN
// `tol` or when `method` is peeled where counts::peeling_applies() is false, and
// InsufficientMemory when dense counts of the graph would not fit in memory
// (counts::check_whole_graph_count_fits). `poll` is called before each candidate.
std::vector<std::size_t> soft_edge_positions(const counts::IndexGraph& graph,
                                             std::span<const std::optional<std::size_t>> candidates,
                                             counts::LpiCounts baseline, double tol,
                                             counts::CountMethod method = counts::CountMethod::automatic,
                                             const core::InterruptCheck& poll = {});

// Indices into `bonds` (in order) of the soft records. A record whose two
// nodes are not joined by an edge is skipped; a record naming a node outside
// the graph throws IndexOutOfRange. Two records of the same node pair are
// tested (and reported) separately. `baseline` is the LPI of the intact
// graph computed with the same `tol`.
std::vector<std::size_t> detect_soft_bonds(const core::WeightedGraph& graph, std::span<const vif::BondRecord> bonds,
                                           counts::LpiCounts baseline, double tol,
                                           counts::CountMethod method = counts::CountMethod::automatic,
                                           const core::InterruptCheck& poll = {});

}  // namespace tessarin::ms
