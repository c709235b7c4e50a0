// An undirected weighted graph as plain data: nodes 0..node_count-1 and an
// edge list. The orbital graph is one; the count engine reads them.
#pragma once

#include <vector>

namespace tessarin::core {

struct WeightedEdge {
  int u = 0;
  int v = 0;
  double weight = 1.0;
};

struct WeightedGraph {
  int node_count = 0;
  std::vector<WeightedEdge> edges;  // each undirected edge once
};

}  // namespace tessarin::core
