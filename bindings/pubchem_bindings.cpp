// PubChem lookups and candidate searches: the core's client with Python's
// argument rules and exceptions. Transfers run without the GIL and stop on
// Ctrl-C.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "convert.h"
#include "identify/molecular_formulas.h"
#include "identify/pubchem_candidates.h"
#include "pubchem/lookup.h"
#include "pubchem/reply_cache.h"
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

// Runs `work` without the GIL, with the client's failures as Python's exceptions:
// KeyboardInterrupt (or what a signal handler raised) when stopped,
// TimeoutError, ConnectionError, json.JSONDecodeError.
template <class Work>
void run_transfer(Work&& work) {
  try {
    py::gil_scoped_release nogil;
    work();
  } catch (const pubchem::TransferCancelled&) {
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw py::error_already_set();
  } catch (const pubchem::TransportTimeout& e) {
    raise_python_error(PyExc_TimeoutError, e.what());
  } catch (const pubchem::TransportError& e) {
    raise_python_error(PyExc_ConnectionError, e.what());
  } catch (const pubchem::MalformedReply& e) {
    raise_decode_error(e);
  }
}

py::tuple fetch_smiles(py::handle base, py::handle by, py::handle query, py::handle timeout) {
  const std::string kind = lookup_kind(by);
  const std::string base_url = rest_base(base);
  const std::string text = query_text(query);
  const double seconds = timeout_seconds(timeout);

  pubchem::CompoundSmiles found;
  try {
    run_transfer([&] { found = pubchem::fetch_smiles(base_url, kind, text, seconds, &no_pending_signal); });
  } catch (const pubchem::SmilesNotFound& e) {
    raise_smiles_missing(e);
  }
  return py::make_tuple(found.smiles, found.cid ? py::object(py::int_(*found.cid)) : py::object(py::none()));
}

// Element symbols ("C", "Cl"); None gives none (the engine's default set).
std::vector<std::string> element_symbols(py::handle elements) {
  std::vector<std::string> symbols;
  if (elements.is_none()) return symbols;
  if (py::isinstance<py::str>(elements) || !py::hasattr(elements, "__iter__")) {
    throw py::type_error("elements must be an iterable of element symbols, not " + type_name(elements));
  }
  for (py::handle symbol : elements) {
    if (!py::isinstance<py::str>(symbol)) {
      throw py::type_error("elements must be element symbols (str), not " + type_name(symbol));
    }
    symbols.push_back(utf8_text(symbol, "elements"));
  }
  if (symbols.empty()) throw py::value_error("elements is empty");
  return symbols;
}

py::object optional_cid(const std::optional<std::int64_t>& cid) {
  return cid ? py::object(py::int_(*cid)) : py::object(py::none());
}

py::tuple pubchem_candidates(py::handle base, py::handle formula, py::handle mass, py::handle elements,
                             py::handle cache_dir, py::handle timeout, py::handle max_formulas, py::handle max_records,
                             py::handle route, py::handle wait, py::handle max_polls, py::handle max_retries) {
  identify::PubChemQuery query;
  if (!formula.is_none()) {
    if (!py::isinstance<py::str>(formula)) throw py::type_error("formula must be a str, not " + type_name(formula));
    query.formula = utf8_text(formula, "formula");
  } else if (!mass.is_none()) {
    query.nominal_mass = static_cast<int>(integer_argument(mass, "mass", 1, identify::kMaxFormulaMass));
  }
  query.elements = element_symbols(elements);
  query.max_formulas = static_cast<std::size_t>(integer_argument(max_formulas, "max_formulas", 1, 100'000));

  pubchem::SearchOptions options;
  options.base = rest_base(base);
  options.timeout_seconds = timeout_seconds(timeout);
  options.max_records = static_cast<std::size_t>(integer_argument(max_records, "max_records", 1, 100'000));
  const std::string route_name = py::isinstance<py::str>(route) ? utf8_text(route, "route") : std::string();
  if (route_name != "fast" && route_name != "list_key") {
    throw py::value_error("route must be 'fast' or 'list_key', not " + std::string(py::repr(route)));
  }
  options.route = route_name == "fast" ? pubchem::FormulaRoute::fast : pubchem::FormulaRoute::list_key;
  options.wait_seconds = timeout_seconds(wait);
  options.max_polls = static_cast<int>(integer_argument(max_polls, "max_polls", 1, 10'000));
  options.max_retries = static_cast<int>(integer_argument(max_retries, "max_retries", 0, 100));
  if (!cache_dir.is_none()) options.cache_dir = path_argument(cache_dir, "cache_dir");
  options.keep_going = &no_pending_signal;
  options.check();
  query.check();

  identify::PubChemCandidates found;
  run_transfer([&] { found = identify::pubchem_candidates(query, options); });

  py::list rows;
  for (const identify::Candidate& c : found.candidates) {
    rows.append(py::make_tuple(lenient_text(c.smiles), optional_cid(c.cid), lenient_text(c.name),
                               lenient_text(c.formula), c.nominal_mass));
  }
  const identify::CandidateCounts& n = found.counts;
  py::dict counts;
  counts["found"] = n.found;
  counts["kept"] = n.kept;
  counts["duplicates"] = n.duplicates;
  counts["salts"] = n.salts;
  counts["unparsable"] = n.unparsable;
  counts["other_formula"] = n.other_formula;
  return py::make_tuple(rows, counts, found.formulas, found.formulas_left_out, found.truncated, found.requests,
                        found.cache_hits);
}

py::tuple formulas_of_nominal_mass(py::handle mass, py::handle elements, py::handle limit) {
  const int m = static_cast<int>(integer_argument(mass, "mass", 1, identify::kMaxFormulaMass));
  const auto most = static_cast<std::size_t>(integer_argument(limit, "limit", 0, 1'000'000));
  identify::FormulaList list = identify::formulas_of_nominal_mass(m, element_symbols(elements), most);
  return py::make_tuple(list.formulas, list.total);
}

}  // namespace

void register_pubchem(py::module_& m) {
  m.attr("PUBCHEM_REST") = std::string(pubchem::kDefaultBase);
  m.def("fetch_smiles", &fetch_smiles, py::arg("base"), py::arg("by"), py::arg("query"), py::arg("timeout"),
        "(SMILES, CID or None) of a compound from the PUG REST compound endpoint `base`, by 'name' or "
        "'cid'. One GET bounded by `timeout` seconds; ConnectionError / TimeoutError when the transfer "
        "fails, ValueError (json.JSONDecodeError for a body that is not JSON) for a reply without a SMILES.");
  m.def("pubchem_candidates", &pubchem_candidates, py::arg("base"), py::arg("formula"), py::arg("mass"),
        py::arg("elements"), py::arg("cache_dir"), py::arg("timeout"), py::arg("max_formulas"), py::arg("max_records"),
        py::arg("route"), py::arg("wait"), py::arg("max_polls"), py::arg("max_retries"),
        "(rows, counts, formulas, formulas_left_out, truncated, requests, cache_hits): candidate structures of a "
        "formula or nominal mass from the PUG REST compound endpoint `base`, one per parent structure.");
  m.def("formulas_of_nominal_mass", &formulas_of_nominal_mass, py::arg("mass"), py::arg("elements"), py::arg("limit"),
        "(the `limit` most plausible molecular formulas of organic molecules of this nominal mass, how many the "
        "rules allow).");
  m.def(
      "default_cache_dir", [] { return pubchem::default_cache_dir(); },
      "Where PubChem replies are kept when no cache directory is named.");
}

}  // namespace tessarin::bindings
