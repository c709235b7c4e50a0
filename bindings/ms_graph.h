// networkx graphs and bond-record mappings as the index data the soft-bond
// engine works on.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "ms/atom_set_softs.h"
#include "counts/index_graph.h"
#include "counts/lpi.h"

namespace tessarin::bindings {

struct LabelledGraph {
  counts::IndexGraph graph;    // nodes numbered in the graph's node order
  pybind11::dict index;    // node label -> node number
};

// An undirected simple networkx graph (nx.Graph, its subclasses and views)
// with the `weight` attribute of each edge (1.0 when absent). Directed and
// multigraphs, and anything that is not a graph, raise TypeError;
// non-numeric weights TypeError or ValueError, non-finite ones ValueError.
LabelledGraph labelled_graph(pybind11::handle graph);

// For each record (any mapping with `u_node` and `v_node`, in order) the id
// of the edge it names, or nullopt when the graph has no such edge (also
// when a node is not in the graph). A missing key raises KeyError, an
// unhashable node TypeError.
std::vector<std::optional<std::size_t>> record_edges(const LabelledGraph& graph, pybind11::handle records);

// The "n+", "n0" and "n-" integers of an LPI mapping; KeyError when one is
// missing, TypeError when one is not an integer.
counts::LpiCounts lpi_counts_of(pybind11::handle lpi);

// Integer member of a record (operator.index semantics: int, NumPy integers,
// not bool or float). KeyError when missing, TypeError when not an integer;
// values beyond long long come back as -1 (no atom has such an index).
long long record_integer(pybind11::handle record, const char* key);

// The record's "order", 1 when it has none; TypeError when not an integer.
// Orders far outside any real bond are clamped (only "2 or more" matters).
int record_order(pybind11::handle record);

// Node numbers of an iterable of node labels, ascending and each once;
// labels that are not nodes of the graph are left out, as an induced
// subgraph leaves them out. An unhashable label raises TypeError.
std::vector<int> graph_nodes_of(const LabelledGraph& graph, pybind11::handle labels);

// A bond record as the atom-set tests read it: `atom_id` maps the record's
// atom_u / atom_v (integers) to atom ids, -1 for atoms outside every set.
template <typename AtomId>
ms::OrbitalBond orbital_bond(const LabelledGraph& graph, pybind11::handle record, AtomId&& atom_id);

// Implementation detail of orbital_bond.
int graph_node_of(const LabelledGraph& graph, pybind11::handle label);

template <typename AtomId>
ms::OrbitalBond orbital_bond(const LabelledGraph& graph, pybind11::handle record, AtomId&& atom_id) {
  ms::OrbitalBond b;
  b.atom_u = atom_id(record_integer(record, "atom_u"));
  b.atom_v = atom_id(record_integer(record, "atom_v"));
  b.u_node = graph_node_of(graph, pybind11::object(record[pybind11::str("u_node")]));
  b.v_node = graph_node_of(graph, pybind11::object(record[pybind11::str("v_node")]));
  if (b.u_node >= 0 && b.v_node >= 0) b.edge = graph.graph.find_edge(b.u_node, b.v_node);
  b.order = record_order(record);
  return b;
}

}  // namespace tessarin::bindings
