// Soft bonds and fragment prediction.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <algorithm>
#include <string>

#include "convert.h"
#include "mol_bridge.h"
#include "ms/fragments.h"
#include "ms/inertia.h"
#include "ms/soft_bonds.h"
#include "ms_graph.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

ms::CountMethod method_of(const std::string& name) {
  if (name == "auto") return ms::CountMethod::automatic;
  if (name == "dense") return ms::CountMethod::dense;
  if (name == "peeled") return ms::CountMethod::peeled;
  throw py::value_error("method must be \"auto\", \"dense\" or \"peeled\", not \"" + name + "\"");
}

py::object item_or_null(py::handle mapping, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(mapping.ptr(), k.ptr());
  if (value == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_KeyError)) {
      PyErr_Clear();
      return py::object();
    }
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(value);
}

py::object item(py::handle mapping, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(mapping.ptr(), k.ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

std::string symbol_of(py::handle record, const char* key) {
  py::object value = item(record, key);
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string("bond record \"") + key + "\" must be an element symbol string, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
  }
  return value.cast<std::string>();
}

ms::SoftBondRef soft_ref_of(const RDKit::ROMol& mol, py::handle record) {
  ms::SoftBondRef s;
  s.atom_u = atom_index(mol, item(record, "atom_u"));
  s.atom_v = atom_index(mol, item(record, "atom_v"));
  s.sym_u = symbol_of(record, "sym_u");
  s.sym_v = symbol_of(record, "sym_v");
  py::object order = item_or_null(record, "order");
  if (order) {
    if (PyBool_Check(order.ptr()) || !PyIndex_Check(order.ptr())) {
      throw py::type_error("bond record \"order\" must be an integer, not " +
                           std::string(py::str(py::type::handle_of(order).attr("__name__"))));
    }
    py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(order.ptr()));
    if (!as_int) throw py::error_already_set();
    // Only "2 or more" matters, so orders far outside any real bond are clamped.
    int overflow = 0;
    long long o = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
    if (overflow != 0) o = overflow > 0 ? 1'000'000 : -1'000'000;
    s.order = static_cast<int>(std::clamp(o, -1'000'000LL, 1'000'000LL));
  }
  return s;
}

py::list entries_to_python(const std::vector<ms::FragmentEntry>& entries) {
  py::list out;
  for (const ms::FragmentEntry& e : entries) {
    py::dict d;
    d["bond"] = e.bond;
    d["split"] = py::bool_(e.split);
    d["mode"] = e.mode;
    if (e.fragments) {
      py::list frags;
      for (const ms::FragmentTuple& f : *e.fragments) frags.append(py::make_tuple(f.formula, f.average_mass, f.mz));
      d["fragments"] = frags;
    } else {
      d["fragments"] = py::none();
    }
    out.append(d);
  }
  return out;
}

}  // namespace

void register_ms(py::module_& m) {
  m.def(
      "soft_bond_positions",
      [](py::handle graph, py::handle records, py::handle baseline, double tol, const std::string& method) {
        const ms::CountMethod how = method_of(method);
        const vif::LpiCounts counts = lpi_counts_of(baseline);
        const LabelledGraph g = labelled_graph(graph);
        const auto candidates = record_edges(g, records);
        return ms::soft_edge_positions(g.graph, candidates, counts, tol, how);
      },
      py::arg("graph"), py::arg("records"), py::arg("baseline_lpi"), py::arg("tol"), py::arg("method") = "auto",
      "Positions of the records whose edge is soft. method: \"auto\" (peeled where valid, else dense), "
      "\"dense\" or \"peeled\".");
  m.def(
      "peeling_applies",
      [](py::handle graph, double tol) { return ms::peeling_applies(labelled_graph(graph).graph, tol); },
      py::arg("graph"), py::arg("tol"), "Whether the peeled count may stand in for the dense one.");
  m.def(
      "peeled_core",
      [](py::handle graph, double tol) {
        const LabelledGraph g = labelled_graph(graph);
        ms::InertiaCounter counter;
        const vif::LpiCounts c = counter.count(g.graph, {}, tol, ms::CountMethod::peeled);
        const ms::PeelStats& s = counter.last_peel();
        py::dict out;
        out["n+"] = c.n_plus;
        out["n0"] = c.n_zero;
        out["n-"] = c.n_minus;
        out["nodes"] = s.active_nodes;
        out["core_nodes"] = s.core_nodes;
        out["core_blocks"] = s.core_blocks;
        return out;
      },
      py::arg("graph"), py::arg("tol"), "Counts of the intact graph by peeling, with the size of its dense core.");
  m.def(
      "predict_fragments",
      [](py::handle mol, py::handle soft_bonds, bool ring_fragmentation, double min_ring_fragment_mz) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        std::vector<ms::SoftBondRef> softs;
        for (py::handle record : py::iter(soft_bonds)) softs.push_back(soft_ref_of(m_, record));
        return entries_to_python(ms::predict_fragments(m_, softs, ring_fragmentation, min_ring_fragment_mz));
      },
      py::arg("mol"), py::arg("soft_bonds"), py::arg("ring_fragmentation"), py::arg("min_ring_fragment_mz"));
}

}  // namespace tessarin::bindings
