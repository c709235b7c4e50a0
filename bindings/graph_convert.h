// networkx graphs as the index data the engine counts on.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "counts/index_graph.h"
#include "ms/atom_set_softs.h"

namespace tessarin::bindings {

struct LabelledGraph {
  counts::IndexGraph graph;  // nodes numbered in the graph's node order
  pybind11::dict index;      // node label -> node number
};

// An undirected simple networkx graph (nx.Graph, its subclasses and views)
// with the `weight` attribute of each edge as networkx's to_numpy_array reads
// it: edges without it count 1, `weight` None makes every edge 1. Directed
// graphs and multigraphs, and anything that is not a graph, raise TypeError;
// non-numeric weights TypeError or ValueError, non-finite ones ValueError.
LabelledGraph read_graph(pybind11::handle graph, pybind11::handle weight);

// For each record (any mapping with `u_node` and `v_node`, in order) the id
// of the edge it names, or nullopt when the graph has no such edge (also
// when a node is not in the graph). A missing key raises KeyError, an
// unhashable node TypeError.
std::vector<std::optional<std::size_t>> record_edges(const LabelledGraph& graph, pybind11::handle records);

// Node number of a label, -1 when it is not a node. Unhashable: TypeError.
int graph_node_of(const LabelledGraph& graph, pybind11::handle label);

// Node numbers of an iterable of node labels, ascending and each once;
// labels that are not nodes of the graph are left out, as an induced
// subgraph leaves them out. An unhashable label raises TypeError.
std::vector<int> graph_nodes_of(const LabelledGraph& graph, pybind11::handle labels);

// A bond record as the atom-set tests read it: `atom_id` maps the record's
// atom_u / atom_v (integers) to atom ids, -1 for atoms outside every set.
template <typename AtomId>
ms::OrbitalBond orbital_bond(const LabelledGraph& graph, pybind11::handle record, AtomId&& atom_id);

}  // namespace tessarin::bindings

#include "convert.h"

template <typename AtomId>
tessarin::ms::OrbitalBond tessarin::bindings::orbital_bond(const LabelledGraph& graph, pybind11::handle record,
                                                           AtomId&& atom_id) {
  ms::OrbitalBond b;
  b.atom_u = atom_id(record_integer(record, "atom_u"));
  b.atom_v = atom_id(record_integer(record, "atom_v"));
  b.u_node = graph_node_of(graph, record_item(record, "u_node"));
  b.v_node = graph_node_of(graph, record_item(record, "v_node"));
  if (b.u_node >= 0 && b.v_node >= 0) b.edge = graph.graph.find_edge(b.u_node, b.v_node);
  b.order = record_order(record).value_or(1);
  return b;
}
