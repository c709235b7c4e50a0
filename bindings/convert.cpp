#include "convert.h"

#include <GraphMol/ROMol.h>

#include <algorithm>
#include <cmath>
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

long long integer_argument(py::handle value, const std::string& what, long long lo, long long hi) {
  const std::optional<PythonInteger> v = python_integer(value);
  if (!v) throw py::type_error(what + " must be an integer, not " + type_name(value));
  if (v->overflow != 0 || v->value < lo || v->value > hi) {
    throw py::value_error(what + " is out of range: " + std::string(py::str(v->as_int)));
  }
  return v->value;
}

double real_argument(py::handle value, const std::string& what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || value.is_none() ||
      PyComplex_Check(value.ptr())) {
    throw py::type_error(what + " must be a real number, not " + type_name(value));
  }
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::type_error(what + " must be a real number, not " + type_name(value));
  }
  return result;
}

double finite_argument(py::handle value, const std::string& what) {
  const double result = real_argument(value, what);
  if (!std::isfinite(result)) throw py::value_error(what + " must be finite, not " + std::string(py::repr(value)));
  return result;
}

double number_argument(py::handle value, const std::string& what) {
  const double result = real_argument(value, what);
  if (std::isnan(result)) throw py::value_error(what + " must be a number, not NaN");
  return result;
}

std::optional<std::string> utf8(py::handle text, const std::string& what) {
  if (!py::isinstance<py::str>(text)) throw py::type_error(what + " must be a str, not " + type_name(text));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::string utf8_text(py::handle text, const std::string& what) {
  std::optional<std::string> out = utf8(text, what);
  if (!out) {
    throw py::value_error(what + " is not valid text (it holds a lone surrogate): " + std::string(py::repr(text)));
  }
  return std::move(*out);
}

py::str lenient_text(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
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

py::object record_item(py::handle record, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(record.ptr(), k.ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

long long record_integer(py::handle record, const char* key) {
  py::object value = record_item(record, key);
  const std::optional<PythonInteger> x = python_integer(value);
  if (!x) throw py::type_error(std::string("bond record \"") + key + "\" must be an integer, not " + type_name(value));
  return x->overflow != 0 ? -1 : x->value;
}

std::optional<int> record_order(py::handle record) {
  py::str key("order");
  PyObject* found = PyObject_GetItem(record.ptr(), key.ptr());
  if (found == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  py::object order = py::reinterpret_steal<py::object>(found);
  const std::optional<PythonInteger> o = python_integer(order);
  if (!o) throw py::type_error("bond record \"order\" must be an integer, not " + type_name(order));
  const long long value = o->overflow != 0 ? o->overflow * 1'000'000LL : o->value;
  return static_cast<int>(std::clamp(value, -1'000'000LL, 1'000'000LL));
}

std::string record_symbol(py::handle record, const char* key) {
  py::object value = record_item(record, key);
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string("bond record \"") + key + "\" must be an element symbol string, not " +
                         type_name(value));
  }
  return value.cast<std::string>();
}

counts::LpiCounts lpi_counts_of(py::handle lpi) {
  auto count = [&](const char* key) {
    py::object value = record_item(lpi, key);
    const std::optional<PythonInteger> x = python_integer(value);
    if (!x) throw py::type_error(std::string("LPI entry \"") + key + "\" must be an integer, not " + type_name(value));
    if (x->overflow != 0 || x->value < 0 || x->value > 1'000'000'000) {
      throw py::value_error(std::string("LPI entry \"") + key + "\" is not a possible eigenvalue count: " +
                            std::string(py::str(x->as_int)));
    }
    return static_cast<int>(x->value);
  };
  counts::LpiCounts c;
  c.n_plus = count("n+");
  c.n_zero = count("n0");
  c.n_minus = count("n-");
  return c;
}

}  // namespace tessarin::bindings
