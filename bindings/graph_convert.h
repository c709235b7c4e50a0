// networkx graphs as weighted adjacency entries for the core.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "counts/lpi.h"

namespace tessarin::bindings {

struct DenseGraph {
  int n = 0;
  std::vector<counts::MatrixEntry> entries;  // every (row, col, weight) of the adjacency matrix
};

// The weighted adjacency matrix of any networkx graph (Graph, DiGraph,
// MultiGraph, views), rows in the graph's node order, as networkx's
// to_numpy_array builds it: `weight` names the edge attribute, edges without
// it count 1, weight None makes every edge 1, parallel edges add up.
// Non-numeric weights raise TypeError or ValueError.
DenseGraph adjacency_of(pybind11::handle graph, pybind11::handle weight);

}  // namespace tessarin::bindings
