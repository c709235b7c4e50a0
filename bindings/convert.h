// Small conversions from Python values shared by the binding files.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

namespace RDKit {
class ROMol;
}

namespace tessarin::bindings {

// Atom indices from any Python iterable of integers (int, numpy integers;
// floats are rejected with TypeError, indices outside the molecule with
// IndexError naming the index).
std::vector<int> atom_indices(const RDKit::ROMol& mol, pybind11::handle iterable);

// One atom index, checked against the molecule.
int atom_index(const RDKit::ROMol& mol, pybind11::handle value);

}  // namespace tessarin::bindings
