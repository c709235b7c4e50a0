// Element data, masses, formulas and labels.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <climits>
#include <string>

#include "convert.h"
#include "core/element_data.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "mol_bridge.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

const core::ElementRecord& element_lookup(py::handle key) {
  if (py::isinstance<py::str>(key)) return core::element_by_symbol(key.cast<std::string>());
  const std::optional<PythonInteger> z = python_integer(key);
  if (!z) throw py::type_error("element() takes an element symbol or an atomic number, not " + type_name(key));
  if (z->overflow != 0 || z->value < 1 || z->value > core::kMaxAtomicNumber) {
    throw py::value_error("no element has atomic number " + std::string(py::str(z->as_int)));
  }
  return core::element_by_number(static_cast<int>(z->value));
}

// Nominal mass of an atom by atomic number: integers only (int, NumPy
// integers), and numbers beyond any int are no element either.
int most_common_isotope(py::handle atomic_num) {
  const std::optional<PythonInteger> z = python_integer(atomic_num);
  if (!z) throw py::type_error("atomic_num must be an integer, not " + type_name(atomic_num));
  if (z->overflow != 0 || z->value < INT_MIN || z->value > INT_MAX) {
    throw py::value_error("no element has atomic number " + std::string(py::str(z->as_int)));
  }
  return core::nominal_atom_mass(static_cast<int>(z->value));
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
      "nominal_mass",
      [](py::object mol, py::handle indices, py::object element_mass) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        const std::vector<int> atoms = atom_indices(m_, indices);
        return core::nominal_mass(m_, atoms, [&element_mass](int z) {
          py::object mass = element_mass(z);
          return static_cast<int>(integer_argument(mass, "the nominal mass of an element", INT_MIN, INT_MAX));
        });
      },
      py::arg("mol"), py::arg("indices"), py::arg("element_mass"),
      "Nominal mass of the atoms at `indices`: a labelled atom weighs its mass number, every other atom "
      "element_mass(its atomic number).");
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
}

}  // namespace tessarin::bindings
