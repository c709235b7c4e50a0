// Bond orders, and the LPI of networkx graphs.
#include <pybind11/pybind11.h>

#include <GraphMol/Bond.h>
#include <GraphMol/ROMol.h>

#include "convert.h"
#include "counts/lpi.h"
#include "counts/lpi_text.h"
#include "graph_convert.h"
#include "mol_bridge.h"
#include "registry.h"
#include "to_python.h"
#include "vif/bond_orders.h"

namespace py = pybind11;

namespace tessarin::bindings {

void register_vif(py::module_& m) {
  m.def(
      "bond_orders",
      [](py::handle mol) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        const vif::BondOrders orders = vif::build_bond_orders(m_);
        py::dict out;
        for (const RDKit::Bond* bond : m_.bonds()) {
          const int order = orders.by_bond[bond->getIdx()];
          out[py::make_tuple(bond->getBeginAtomIdx(), bond->getEndAtomIdx())] = order;
          out[py::make_tuple(bond->getEndAtomIdx(), bond->getBeginAtomIdx())] = order;
        }
        return out;
      },
      py::arg("mol"), "Integer order of every bond, keyed (i, j) and (j, i).");
  m.def(
      "lpi",
      [](py::handle graph, py::handle tol, py::handle weight) {
        const double threshold = number_argument(tol, "tol");
        const LabelledGraph g = read_graph(graph, weight);
        std::vector<counts::MatrixEntry> edges;
        edges.reserve(g.graph.edge_count());
        for (const core::WeightedEdge& e : g.graph.edges()) edges.push_back({e.u, e.v, e.weight});
        return lpi_to_python(counts::lpi_of_undirected_edges(g.graph.node_count(), edges, threshold));
      },
      py::arg("graph"), py::arg("tol"), py::arg("weight"),
      "LPI mapping of an undirected networkx graph's weighted adjacency matrix.");
  m.def(
      "lpi_title_part", [](py::handle lpi) { return counts::lpi_title_part(lpi_counts_of(lpi)); }, py::arg("lpi"),
      "The LPI as the graph figure's title writes it.");
}

}  // namespace tessarin::bindings
