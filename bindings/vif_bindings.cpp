// The LPI of networkx graphs and its text forms.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/Bond.h>
#include <GraphMol/ROMol.h>

#include "graph_convert.h"
#include "mol_bridge.h"
#include "vif/bond_orders.h"
#include "registry.h"
#include "counts/lpi.h"
#include "counts/lpi_text.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::array_t<double> to_numpy(const std::vector<double>& values) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

counts::LpiCounts counts_of(py::handle lpi) {
  return {lpi["n+"].cast<int>(), lpi["n0"].cast<int>(), lpi["n-"].cast<int>()};
}

}  // namespace

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
      [](py::handle graph, double tol, py::handle weight) {
        DenseGraph g = adjacency_of(graph, weight);
        counts::Lpi lpi = counts::lpi_of_entries(g.n, g.entries, tol);
        py::dict out;
        out["n+"] = lpi.counts.n_plus;
        out["n0"] = lpi.counts.n_zero;
        out["n-"] = lpi.counts.n_minus;
        out["eigenvalues"] = to_numpy(lpi.eigenvalues);
        return out;
      },
      py::arg("graph"), py::arg("tol"), py::arg("weight"),
      "LPI mapping of a networkx graph's weighted adjacency matrix.");
  m.def(
      "lpi_report_line", [](py::handle lpi) { return counts::lpi_report_line(counts_of(lpi)); }, py::arg("lpi"));
  m.def(
      "lpi_title_part", [](py::handle lpi) { return counts::lpi_title_part(counts_of(lpi)); }, py::arg("lpi"));
  m.def(
      "eigenvalue_line",
      [](py::array_t<double, py::array::c_style | py::array::forcecast> values) {
        return counts::eigenvalue_line(std::span<const double>(values.data(), static_cast<std::size_t>(values.size())));
      },
      py::arg("eigenvalues"));
}

}  // namespace tessarin::bindings
