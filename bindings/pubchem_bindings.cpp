// PubChem lookups: the core's SMILES client with Python's argument rules and
// exceptions. The transfer runs without the GIL and stops on Ctrl-C.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "convert.h"
#include "pubchem/lookup.h"
#include "pubchem/request.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

// A str sent on the wire; one without a UTF-8 form raises the
// UnicodeEncodeError of Python's own str.encode.
std::string wire_text(py::handle text, const std::string& what) {
  std::optional<std::string> out = utf8(text, what);
  if (!out) {
    text.attr("encode")("utf-8");
    throw py::value_error(what + " is not valid text");  // not reached: encode raised
  }
  return std::move(*out);
}

// "name" or "cid"; anything else (also a non-string) is the lookup-kind error.
std::string lookup_kind(py::handle by) {
  if (py::isinstance<py::str>(by)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(by.ptr(), &size);
    if (data == nullptr) {
      PyErr_Clear();  // lone surrogates: certainly not a lookup kind
    } else if (const std::string_view kind(data, static_cast<std::size_t>(size)); pubchem::is_lookup_kind(kind)) {
      return std::string(kind);
    }
  }
  throw py::value_error(std::string(pubchem::kBadLookupKind));
}

std::string rest_base(py::handle base) {
  if (!py::isinstance<py::str>(base)) {
    throw py::type_error("tessarin.PUBCHEM_REST must be a str, not " + type_name(base));
  }
  return wire_text(base, "tessarin.PUBCHEM_REST");
}

// A name as given; a CID (any integer but bool) in decimal.
std::string query_text(py::handle query) {
  if (py::isinstance<py::str>(query)) return wire_text(query, "query");
  if (const std::optional<PythonInteger> cid = python_integer(query)) return py::str(cid->as_int);
  throw py::type_error("query must be a compound name (str) or a CID (int), not " + type_name(query));
}

// Seconds as a float; the core rejects values that are not positive and finite.
double timeout_seconds(py::handle timeout) {
  if (PyBool_Check(timeout.ptr()) || !PyNumber_Check(timeout.ptr())) {
    throw py::type_error("timeout must be a number of seconds, not " + type_name(timeout));
  }
  const double seconds = PyFloat_AsDouble(timeout.ptr());
  if (seconds == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return seconds;
}

// Polled by the transfer about once a second: lets a pending Ctrl-C (or any
// other signal handler that raises) stop it. The raised exception stays set
// and is re-raised once the transfer has unwound.
bool no_pending_signal() {
  py::gil_scoped_acquire gil;
  return PyErr_CheckSignals() == 0;
}

// json.JSONDecodeError(reason, body as text, character offset of the failure).
// The reason quotes what was read, so it may hold bytes that are not UTF-8.
[[noreturn]] void raise_decode_error(const pubchem::MalformedReply& e) {
  const std::string& body = e.body();
  const py::str doc = lenient_text(body);
  const std::size_t pos = py::len(lenient_text(body.substr(0, std::min(e.offset(), body.size()))));
  const py::str reason = lenient_text(e.reason());
  const py::object error_type = py::module_::import("json").attr("JSONDecodeError");
  const py::object error = error_type(reason, doc, pos);
  PyErr_SetObject(error_type.ptr(), error.ptr());
  throw py::error_already_set();
}

// The record written the way Python writes the dict json.loads makes of it.
[[noreturn]] void raise_smiles_missing(const pubchem::SmilesNotFound& e) {
  const py::object record = py::module_::import("json").attr("loads")(e.record_json());
  const py::str message(std::string(pubchem::kSmilesMissing) + std::string(py::str(record)));
  PyErr_SetObject(PyExc_ValueError, message.ptr());
  throw py::error_already_set();
}

py::tuple fetch_smiles(py::handle base, py::handle by, py::handle query, py::handle timeout) {
  const std::string kind = lookup_kind(by);
  const std::string base_url = rest_base(base);
  const std::string text = query_text(query);
  const double seconds = timeout_seconds(timeout);

  pubchem::CompoundSmiles found;
  try {
    py::gil_scoped_release nogil;
    found = pubchem::fetch_smiles(base_url, kind, text, seconds, &no_pending_signal);
  } catch (const pubchem::TransferCancelled&) {
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw py::error_already_set();
  } catch (const pubchem::TransportTimeout& e) {
    raise_python_error(PyExc_TimeoutError, e.what());
  } catch (const pubchem::TransportError& e) {
    raise_python_error(PyExc_ConnectionError, e.what());
  } catch (const pubchem::MalformedReply& e) {
    raise_decode_error(e);
  } catch (const pubchem::SmilesNotFound& e) {
    raise_smiles_missing(e);
  }
  return py::make_tuple(found.smiles, found.cid ? py::object(py::int_(*found.cid)) : py::object(py::none()));
}

}  // namespace

void register_pubchem(py::module_& m) {
  m.def("fetch_smiles", &fetch_smiles, py::arg("base"), py::arg("by"), py::arg("query"), py::arg("timeout"),
        "(SMILES, CID or None) of a compound from the PUG REST compound endpoint `base`, by 'name' or "
        "'cid'. One GET bounded by `timeout` seconds; ConnectionError / TimeoutError when the transfer "
        "fails, ValueError (json.JSONDecodeError for a body that is not JSON) for a reply without a SMILES.");
}

}  // namespace tessarin::bindings
