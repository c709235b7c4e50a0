// RDKit's Python wrappers are Boost.Python classes. This extension links the
// same libboost_python and RDKit build as the rdkit package, so Boost.Python's
// converter registry hands us the very ROMol that a Python Mol holds.
#include "mol_bridge.h"

#include <boost/python.hpp>

#include <GraphMol/ROMol.h>

#include <string>

#include "convert.h"

namespace tessarin::bindings {

RDKit::ROMol& borrow_mol(pybind11::handle obj, const char* argument) {
  namespace bp = boost::python;
  if (obj.is_none()) {
    throw pybind11::type_error(std::string(argument) + " must be an RDKit Mol, not None");
  }
  bp::object wrapped{bp::handle<>(bp::borrowed(obj.ptr()))};
  bp::extract<RDKit::ROMol*> extractor(wrapped);
  RDKit::ROMol* mol = extractor.check() ? extractor() : nullptr;
  if (mol == nullptr) {
    throw pybind11::type_error(std::string(argument) + " must be an RDKit Mol, not " + type_name(obj));
  }
  return *mol;
}

}  // namespace tessarin::bindings
