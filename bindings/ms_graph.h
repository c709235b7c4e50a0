// networkx graphs and bond-record mappings as the index data the soft-bond
// engine works on.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "ms/index_graph.h"
#include "vif/lpi.h"

namespace tessarin::bindings {

struct LabelledGraph {
  ms::IndexGraph graph;    // nodes numbered in the graph's node order
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
vif::LpiCounts lpi_counts_of(pybind11::handle lpi);

}  // namespace tessarin::bindings
