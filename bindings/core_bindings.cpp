// Element data, masses, formulas, labels and number formats.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <climits>
#include <string>

#include "convert.h"
#include "core/element_data.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "core/number_format.h"
#include "mol_bridge.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

const core::ElementRecord& element_lookup(py::handle key) {
  if (py::isinstance<py::str>(key)) return core::element_by_symbol(key.cast<std::string>());
  if (PyBool_Check(key.ptr()) || !PyIndex_Check(key.ptr())) {
    throw py::type_error("element() takes an element symbol or an atomic number, not " +
                         std::string(py::str(py::type::handle_of(key).attr("__name__"))));
  }
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(key.ptr()));
  int overflow = 0;
  const long long z = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  if (overflow != 0 || z < 1 || z > core::kMaxAtomicNumber) {
    throw py::value_error("no element has atomic number " + std::string(py::str(as_int)));
  }
  return core::element_by_number(static_cast<int>(z));
}

// Nominal mass of an atom by atomic number: integers only (int, NumPy
// integers), and numbers beyond any int are no element either.
int most_common_isotope(py::handle atomic_num) {
  if (PyBool_Check(atomic_num.ptr()) || !PyIndex_Check(atomic_num.ptr())) {
    throw py::type_error("atomic_num must be an integer, not " +
                         std::string(py::str(py::type::handle_of(atomic_num).attr("__name__"))));
  }
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(atomic_num.ptr()));
  if (!as_int) throw py::error_already_set();
  int overflow = 0;
  const long long z = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  if (overflow != 0 || z < INT_MIN || z > INT_MAX) {
    throw py::value_error("no element has atomic number " + std::string(py::str(as_int)));
  }
  return core::nominal_atom_mass(static_cast<int>(z));
}

}  // namespace

void register_core(py::module_& m) {
  py::class_<core::ElementRecord>(m, "Element", "An element of the periodic table.")
      .def_readonly("symbol", &core::ElementRecord::symbol)
      .def_readonly("atomic_number", &core::ElementRecord::atomic_number)
      .def_readonly("period", &core::ElementRecord::period)
      .def("__repr__", [](const core::ElementRecord& e) {
        return "Element(symbol='" + e.symbol + "', atomic_number=" + std::to_string(e.atomic_number) +
               ", period=" + std::to_string(e.period) + ")";
      });

  m.def("element", &element_lookup, py::arg("key"), py::return_value_policy::reference,
        "Element by symbol ('Cl') or atomic number (17).");
  m.def("most_common_isotope", &most_common_isotope, py::arg("atomic_num"),
        "Mass number of the element's most common isotope.");
  m.def(
      "atomic_numbers",
      [](py::object mol, py::handle indices) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        return core::atomic_numbers(m_, atom_indices(m_, indices));
      },
      py::arg("mol"), py::arg("indices"));
  m.def(
      "nominal_mass",
      [](py::object mol, py::handle indices) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        return core::nominal_mass(m_, atom_indices(m_, indices));
      },
      py::arg("mol"), py::arg("indices"));
  m.def(
      "fragment_formula",
      [](py::object mol, py::handle indices) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        return core::fragment_formula(m_, atom_indices(m_, indices));
      },
      py::arg("mol"), py::arg("atom_indices"));
  m.def(
      "pair_label",
      [](py::object mol, py::handle i, py::handle j) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        return core::pair_label(m_, atom_index(m_, i), atom_index(m_, j));
      },
      py::arg("mol"), py::arg("i"), py::arg("j"));

  m.def("float_repr", &core::float_repr, py::arg("value"));
  m.def("numpy_round", &core::numpy_round, py::arg("value"), py::arg("decimals"));
  m.def("python_round", &core::python_round, py::arg("value"), py::arg("ndigits"));
  m.def("format_fixed", &core::format_fixed, py::arg("value"), py::arg("decimals"));
}

}  // namespace tessarin::bindings
