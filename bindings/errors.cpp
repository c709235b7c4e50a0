// C++ failures become the Python exceptions a Python user expects.
#include "errors.h"

#include <RDGeneral/Invariant.h>

#include <cstring>
#include <string>

#include "core/errors.h"
#include "registry.h"

namespace tessarin::bindings {
namespace {

// Sets the OSError of a system error number for `path`, the way Python's own
// open() reports it: "[Errno 2] No such file or directory: 'x.msp'".
void set_os_error(int error_number, const std::string& path) {
  PyObject* name = PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
  if (name == nullptr) return;
  PyObject* error = PyObject_CallFunction(PyExc_OSError, "isO", error_number, std::strerror(error_number), name);
  Py_DECREF(name);
  if (error == nullptr) return;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
  Py_DECREF(error);
}

}  // namespace

void raise_os_error(const std::exception& failure) {
  const auto* file = dynamic_cast<const FileError*>(&failure);
  if (file != nullptr && file->error_number() != 0) {
    set_os_error(file->error_number(), file->path());
  } else {
    PyErr_SetString(PyExc_OSError, failure.what());
  }
  throw pybind11::error_already_set();
}

void register_errors(pybind11::module_& m) {
  (void)m;
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const tessarin::UnusableFile& e) {
      // A path that cannot be opened; one that opens but holds nothing readable is a bad value.
      if (e.error_number() != 0) {
        set_os_error(e.error_number(), e.path());
      } else {
        PyErr_SetString(PyExc_ValueError, e.what());
      }
    } catch (const tessarin::FileAccessError& e) {
      if (e.error_number() != 0) {
        set_os_error(e.error_number(), e.path());
      } else {
        PyErr_SetString(PyExc_OSError, e.what());
      }
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
