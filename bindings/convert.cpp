#include "convert.h"

#include <GraphMol/ROMol.h>

#include <string>

namespace py = pybind11;

namespace tessarin::bindings {

std::string type_name(py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

std::optional<PythonInteger> python_integer(py::handle value) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) return std::nullopt;
  PythonInteger out;
  out.as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!out.as_int) throw py::error_already_set();
  out.value = PyLong_AsLongLongAndOverflow(out.as_int.ptr(), &out.overflow);
  return out;
}

int atom_index(const RDKit::ROMol& mol, py::handle value) {
  // operator.index semantics: ints and integer-like objects only.
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!as_int) throw py::error_already_set();
  const long long n = static_cast<long long>(mol.getNumAtoms());
  int overflow = 0;
  const long long idx = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  if (overflow != 0 || idx < 0 || idx >= n) {
    throw py::index_error("atom index " + std::string(py::str(as_int)) + " is out of range for a molecule of " +
                          std::to_string(n) + " atom" + (n == 1 ? "" : "s"));
  }
  return static_cast<int>(idx);
}

std::vector<int> atom_indices(const RDKit::ROMol& mol, py::handle iterable) {
  std::vector<int> out;
  if (py::isinstance<py::str>(iterable) || py::isinstance<py::bytes>(iterable)) {
    throw py::type_error("atom indices must be an iterable of integers, not a string");
  }
  for (py::handle item : py::iter(iterable)) out.push_back(atom_index(mol, item));
  return out;
}

}  // namespace tessarin::bindings
