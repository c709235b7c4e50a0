// Reaching the C++ molecule behind an RDKit Python `Mol` without copying it.
#pragma once

#include <pybind11/pybind11.h>

namespace RDKit {
class ROMol;
}

namespace tessarin::bindings {

// The ROMol that the Python object wraps (rdkit.Chem.Mol or RWMol). The
// reference is valid while `obj` is alive. Throws pybind11::type_error for
// anything else, None included.
RDKit::ROMol& borrow_mol(pybind11::handle obj, const char* argument = "mol");

}  // namespace tessarin::bindings
