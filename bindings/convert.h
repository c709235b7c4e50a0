// Small conversions from Python values shared by the binding files.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

namespace RDKit {
class ROMol;
}

namespace tessarin::bindings {

// The name of a Python value's type, for messages.
std::string type_name(pybind11::handle value);

// A Python integer (int, NumPy integer; bool is not one) read as long long.
// `overflow` is the sign of an integer beyond long long, whose `value` then
// means nothing; `as_int` is the integer itself, for messages.
struct PythonInteger {
  long long value = 0;
  int overflow = 0;
  pybind11::object as_int;
};

// nullopt for anything that is not such an integer.
std::optional<PythonInteger> python_integer(pybind11::handle value);

// Atom indices from any Python iterable of integers (int, numpy integers;
// floats are rejected with TypeError, indices outside the molecule with
// IndexError naming the index).
std::vector<int> atom_indices(const RDKit::ROMol& mol, pybind11::handle iterable);

// One atom index, checked against the molecule.
int atom_index(const RDKit::ROMol& mol, pybind11::handle value);

}  // namespace tessarin::bindings
