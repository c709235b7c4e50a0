// predict_library: batch spectrum prediction on native threads.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "convert.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/writers.h"
#include "registry.h"
#include "to_python.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::object predict_library(const py::handle& molecules, const std::optional<std::string>& output,
                           const std::string& fmt, bool ring_fragmentation, bool recursive_ms,
                           const py::handle& jobs, const py::handle& model) {
  const std::optional<batch::OutputFormat> format = batch::output_format_named(fmt);
  if (!format) throw py::value_error("fmt must be \"msp\", \"jsonl\" or \"csv\", got " + std::string(py::repr(py::str(fmt))));
  const unsigned n_jobs = jobs_argument(jobs);
  if (output && output->empty()) throw py::value_error("output must be a file path or None");
  batch::LibraryRequest request;
  request.options.analysis.ring_fragmentation = ring_fragmentation;
  request.options.analysis.recursive = recursive_ms;
  request.options.model = prediction_options(model, ring_fragmentation, recursive_ms, py::int_(2)).model;
  request.jobs = n_jobs;

  std::vector<batch::MoleculeInput> inputs = molecule_inputs(molecules, "molecules");
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
      spectra.append(json_to_python(batch::record_json(*o.record)));
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

// Fragment entries as plot_mass_spectrum receives them: "split" by truth
// value, and for a split entry its (formula, average mass, m/z) triples.
std::vector<ms::FragmentEntry> fragment_entries_of(py::handle entries) {
  std::vector<ms::FragmentEntry> out;
  for (py::handle entry : py::iter(entries)) {
    ms::FragmentEntry& e = out.emplace_back();
    e.split = py::bool_(record_item(entry, "split"));
    if (!e.split) continue;
    std::vector<ms::FragmentTuple>& pieces = e.fragments.emplace();
    for (py::handle piece : py::iter(record_item(entry, "fragments"))) {
      const py::tuple t = py::reinterpret_steal<py::tuple>(PySequence_Tuple(piece.ptr()));
      if (!t) throw py::error_already_set();
      if (t.size() != 3) {
        throw py::value_error("a fragment must be a (formula, average mass, m/z) triple, not " +
                              std::string(py::repr(piece)));
      }
      pieces.push_back({py::str(t[0]), 0.0, static_cast<int>(integer_argument(t[2], "a fragment's m/z", INT_MIN, INT_MAX))});
    }
  }
  return out;
}

}  // namespace

void register_batch(py::module_& m) {
  m.def(
      "spectrum_peaks",
      [](py::handle mol_ion, const std::string& mol_ion_label, py::handle fragments) {
        const int mz = static_cast<int>(integer_argument(mol_ion, "the molecular ion's m/z", INT_MIN, INT_MAX));
        py::list out;
        for (const prediction::Peak& p :
             prediction::schematic_peaks(mz, mol_ion_label, fragment_entries_of(fragments), std::nullopt)) {
          out.append(py::make_tuple(p.mz, p.intensity, p.formula));
        }
        return out;
      },
      py::arg("mol_ion"), py::arg("mol_ion_label"), py::arg("fragments"),
      "The stick spectrum of a prediction, m/z ascending: (m/z, intensity, label), the molecular ion "
      "labelled mol_ion_label, each fragment m/z with the first formula met.");
  m.def("predict_library", &predict_library, py::arg("molecules"), py::arg("output"), py::arg("fmt"),
        py::arg("ring_fragmentation"), py::arg("recursive_ms"), py::arg("jobs"), py::arg("model"),
        "Predicted EI spectra of many molecules on native threads, in input order.");
}

}  // namespace tessarin::bindings
