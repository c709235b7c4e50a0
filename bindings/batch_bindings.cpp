// predict_library: batch spectrum prediction on native threads.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "convert.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/writers.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::object python_value(const nlohmann::ordered_json& j) {
  using value_t = nlohmann::ordered_json::value_t;
  switch (j.type()) {
    case value_t::null:
      return py::none();
    case value_t::boolean:
      return py::bool_(j.get<bool>());
    case value_t::number_integer:
      return py::int_(j.get<long long>());
    case value_t::number_unsigned:
      return py::int_(j.get<unsigned long long>());
    case value_t::number_float:
      return py::float_(j.get<double>());
    case value_t::string: {
      const auto& s = j.get_ref<const std::string&>();
      // Names from files in other encodings: undecodable bytes are replaced.
      PyObject* text = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
      if (!text) throw py::error_already_set();
      return py::reinterpret_steal<py::object>(text);
    }
    case value_t::array: {
      py::list out;
      for (const auto& item : j) out.append(python_value(item));
      return out;
    }
    case value_t::object: {
      py::dict out;
      for (const auto& [key, item] : j.items()) out[py::str(key)] = python_value(item);
      return out;
    }
    default:
      throw std::runtime_error("unexpected value in a spectrum record");
  }
}

// A name or SMILES as UTF-8; a str without a UTF-8 form (lone surrogates)
// raises ValueError naming the molecule.
std::string utf8_text(py::handle text, std::size_t position) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::value_error("molecule " + std::to_string(position) + " is not valid text (it holds a lone surrogate): " +
                          std::string(py::repr(text)));
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::vector<batch::MoleculeInput> collect_molecules(const py::handle& molecules) {
  if (py::isinstance<py::str>(molecules) || py::isinstance<py::bytes>(molecules)) {
    throw py::type_error("molecules must be an iterable of SMILES strings or (name, SMILES) pairs, not one string");
  }
  if (!py::hasattr(molecules, "__iter__")) {
    throw py::type_error("molecules must be an iterable of SMILES strings or (name, SMILES) pairs, not " + type_name(molecules));
  }
  std::vector<batch::MoleculeInput> out;
  std::size_t position = 0;
  for (py::handle item : py::reinterpret_borrow<py::iterable>(molecules)) {
    ++position;
    batch::MoleculeInput m;
    m.line = position;
    if (py::isinstance<py::str>(item)) {
      m.smiles = utf8_text(item, position);
    } else if ((py::isinstance<py::tuple>(item) || py::isinstance<py::list>(item)) && py::len(item) == 2 &&
               py::isinstance<py::str>(item[py::int_(0)]) && py::isinstance<py::str>(item[py::int_(1)])) {
      m.name = utf8_text(py::object(item[py::int_(0)]), position);
      m.smiles = utf8_text(py::object(item[py::int_(1)]), position);
    } else {
      throw py::type_error("molecule " + std::to_string(position) +
                           " is neither a SMILES string nor a (name, SMILES) pair of strings: " +
                           std::string(py::repr(item)));
    }
    out.push_back(std::move(m));
  }
  return out;
}

py::object predict_library(const py::handle& molecules, const std::optional<std::string>& output,
                           const std::string& fmt, bool ring_fragmentation, bool recursive_ms,
                           const py::handle& jobs) {
  const std::optional<batch::OutputFormat> format = batch::output_format_named(fmt);
  if (!format) throw py::value_error("fmt must be \"msp\", \"jsonl\" or \"csv\", got " + std::string(py::repr(py::str(fmt))));
  unsigned n_jobs = 0;
  if (!jobs.is_none()) {
    if (py::isinstance<py::bool_>(jobs) || !py::isinstance<py::int_>(jobs)) {
      throw py::type_error("jobs must be None or a positive int");
    }
    int overflow = 0;
    const long long j = PyLong_AsLongLongAndOverflow(jobs.ptr(), &overflow);
    if (overflow != 0 || j < 1 || j > 1024) {
      throw py::value_error("jobs must be from 1 to 1024, got " + std::string(py::str(jobs)));
    }
    n_jobs = static_cast<unsigned>(j);
  }
  if (output && output->empty()) throw py::value_error("output must be a file path or None");
  batch::LibraryRequest request;
  request.options.analysis.ring_fragmentation = ring_fragmentation;
  request.options.analysis.recursive = recursive_ms;
  request.jobs = n_jobs;

  std::vector<batch::MoleculeInput> inputs = collect_molecules(molecules);
  std::optional<batch::LibraryFiles> files;
  if (output) {
    try {
      files.emplace(*output, *format);
    } catch (const std::runtime_error& e) {
      PyErr_SetString(PyExc_OSError, e.what());
      throw py::error_already_set();
    }
    request.files = &*files;
  }

  std::atomic<bool> cancel{false};
  bool interrupted = false;
  std::vector<batch::Outcome> results;
  std::size_t next = 0;
  request.read = [&inputs, &next](batch::MoleculeInput& m) {
    if (next >= inputs.size()) return false;
    m = std::move(inputs[next++]);
    return true;
  };
  request.collect = [&results](batch::Outcome& o) { results.push_back(std::move(o)); };
  request.progress = [&cancel, &interrupted](const batch::BatchProgress&) {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {  // Ctrl-C: keep the KeyboardInterrupt for the caller
      interrupted = true;
      cancel = true;
    }
  };
  request.cancel = &cancel;

  batch::BatchSummary summary;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      summary = batch::predict_library(request);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (interrupted) throw py::error_already_set();
  if (!failure.empty()) {
    PyErr_SetString(PyExc_OSError, failure.c_str());
    throw py::error_already_set();
  }

  if (files) {
    py::dict out;
    out["written"] = summary.written - summary.failed;
    out["failed"] = summary.failed;
    out["errors"] = files->has_errors() ? py::object(py::str(files->errors_path())) : py::object(py::none());
    return out;
  }
  py::list spectra;
  for (const batch::Outcome& o : results) {
    if (o.record) {
      spectra.append(python_value(batch::record_json(*o.record)));
    } else {
      py::dict failed;
      failed["line"] = o.input.line;
      failed["name"] = o.input.name;
      failed["smiles"] = o.input.smiles;
      failed["error"] = o.error;
      spectra.append(failed);
    }
  }
  return spectra;
}

}  // namespace

void register_batch(py::module_& m) {
  m.def("predict_library", &predict_library, py::arg("molecules"), py::arg("output"), py::arg("fmt"),
        py::arg("ring_fragmentation"), py::arg("recursive_ms"), py::arg("jobs"),
        "Predicted EI spectra of many molecules on native threads, in input order.");
}

}  // namespace tessarin::bindings
