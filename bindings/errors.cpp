// C++ failures become the Python exceptions a Python user expects.
#include <RDGeneral/Invariant.h>

#include "core/errors.h"
#include "registry.h"

namespace tessarin::bindings {

void register_errors(pybind11::module_& m) {
  (void)m;
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const tessarin::MissingKey& e) {
      PyErr_SetString(PyExc_KeyError, e.what());
    } catch (const tessarin::WrongType& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const tessarin::InsufficientMemory& e) {
      PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const Invar::Invariant& e) {
      // RDKit's precondition failures: bad input as far as the caller is concerned.
      PyErr_SetString(PyExc_ValueError, (std::string("RDKit rejected the input: ") + e.what()).c_str());
    }
  });
}

}  // namespace tessarin::bindings
