// predict_library: batch spectrum prediction on native threads.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "convert.h"
#include "batch/input.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/writers.h"
#include "core/errors.h"
#include "prediction/predict.h"
#include "registry.h"
#include "to_python.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

// Runs the request without the GIL; Ctrl-C stops it and raises
// KeyboardInterrupt, a failure to read or write raises OSError.
batch::BatchSummary run_interruptible(batch::LibraryRequest& request) {
  std::atomic<bool> cancel{false};
  bool interrupted = false;
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
  return summary;
}

void open_library_files(std::optional<batch::LibraryFiles>& files, const std::string& output,
                        batch::OutputFormat format) {
  try {
    files.emplace(output, format);
  } catch (const std::runtime_error& e) {
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
}

py::dict files_summary(const batch::BatchSummary& summary, const batch::LibraryFiles& files) {
  py::dict out;
  out["written"] = summary.written - summary.failed;
  out["failed"] = summary.failed;
  out["errors"] = files.has_errors() ? py::object(py::str(files.errors_path())) : py::object(py::none());
  return out;
}

batch::OutputFormat format_argument(const std::string& fmt) {
  const std::optional<batch::OutputFormat> format = batch::output_format_named(fmt);
  if (!format) throw py::value_error("fmt must be \"msp\", \"jsonl\" or \"csv\", got " + std::string(py::repr(py::str(fmt))));
  return *format;
}

py::object predict_library(const py::handle& molecules, const std::optional<std::string>& output,
                           const std::string& fmt, bool ring_fragmentation, bool recursive_ms,
                           const py::handle& jobs, const py::handle& model, std::size_t first_line) {
  if (first_line == 0) throw py::value_error("first_line must be at least 1");
  const std::optional<batch::OutputFormat> format = format_argument(fmt);
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
    open_library_files(files, *output, *format);
    request.files = &*files;
  }

  std::vector<batch::Outcome> results;
  std::size_t next = 0;
  request.read = [&inputs, &next, first_line](batch::MoleculeInput& m) {
    if (next >= inputs.size()) return false;
    m = std::move(inputs[next++]);
    m.line += first_line - 1;
    return true;
  };
  request.collect = [&results](batch::Outcome& o) { results.push_back(std::move(o)); };
  const batch::BatchSummary summary = run_interruptible(request);

  if (files) return files_summary(summary, *files);
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

using PositionTuple = std::tuple<std::uint64_t, std::size_t, bool, std::optional<std::size_t>, std::optional<std::size_t>>;

PositionTuple position_tuple(const batch::ReaderPosition& p) {
  auto column = [](std::size_t c) { return c == std::string::npos ? std::nullopt : std::optional(c); };
  return {p.offset, p.line, p.seen_content, column(p.smiles_column), column(p.name_column)};
}

batch::ReaderPosition reader_position(const PositionTuple& t) {
  batch::ReaderPosition p;
  p.offset = std::get<0>(t);
  p.line = std::get<1>(t);
  p.seen_content = std::get<2>(t);
  p.smiles_column = std::get<3>(t).value_or(std::string::npos);
  p.name_column = std::get<4>(t).value_or(std::string::npos);
  return p;
}

py::tuple molecule_file_chunks(const std::string& path, std::size_t chunk_size) {
  std::size_t molecules = 0;
  std::vector<batch::ReaderPosition> starts;
  {
    py::gil_scoped_release release;
    starts = batch::chunk_starts(path, chunk_size, molecules);
  }
  py::list out;
  for (const batch::ReaderPosition& p : starts) out.append(py::cast(position_tuple(p)));
  return py::make_tuple(molecules, out);
}

// Up to `count` molecules of `path` from `start` on, into `output` as
// predict_library writes them; line numbers are those of the whole file.
py::dict predict_file_chunk(const std::string& path, const PositionTuple& start, std::size_t count,
                            const std::string& output, const std::string& fmt, const std::string& model,
                            bool ring_fragmentation, bool recursive_ms, int max_generations, double time_limit,
                            const py::handle& jobs) {
  const batch::OutputFormat format = format_argument(fmt);
  const std::optional<prediction::Model> known = prediction::model_named(model);
  if (!known) throw py::value_error("unknown spectrum model " + std::string(py::repr(py::str(model))));
  if (max_generations < 0) throw py::value_error("max_generations must be >= 0");
  if (!(time_limit >= 0)) throw py::value_error("time_limit must be a number >= 0");
  if (output.empty()) throw py::value_error("output must be a file path");
  const batch::ReaderPosition from = reader_position(start);

  std::ifstream file(path, std::ios::binary);
  if (!file) throw InvalidInput("cannot open " + path + ": " + std::strerror(errno));
  file.seekg(static_cast<std::streamoff>(from.offset));
  if (!file) throw InvalidInput("cannot read " + path + " from byte " + std::to_string(from.offset));
  batch::MoleculeReader reader(file, batch::input_format_of_path(path), from);

  batch::LibraryRequest request;
  request.options.analysis.ring_fragmentation = ring_fragmentation;
  request.options.analysis.recursive = recursive_ms;
  request.options.analysis.max_generations = max_generations;
  request.options.time_limit_seconds = time_limit;
  request.options.model = *known;
  request.jobs = jobs_argument(jobs);
  std::size_t read = 0;
  request.read = [&reader, &read, count](batch::MoleculeInput& m) {
    if (read == count || !reader.next(m)) return false;
    ++read;
    return true;
  };
  std::optional<batch::LibraryFiles> files;
  open_library_files(files, output, format);
  request.files = &*files;
  const batch::BatchSummary summary = run_interruptible(request);
  py::dict out = files_summary(summary, *files);
  out["read"] = read;
  return out;
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
        py::arg("ring_fragmentation"), py::arg("recursive_ms"), py::arg("jobs"), py::arg("model"), py::arg("first_line") = 1,
        "Predicted EI spectra of many molecules on native threads, in input order; the molecules are "
        "numbered from first_line on.");
  m.def("molecule_file_chunks", &molecule_file_chunks, py::arg("path"), py::arg("chunk_size"),
        "(molecules, starts): the number of molecules of a SMILES, SDF or CSV/TSV file and the reader's "
        "position before every chunk_size-th one.");
  m.def("predict_file_chunk", &predict_file_chunk, py::arg("path"), py::arg("start"), py::arg("count"),
        py::arg("output"), py::arg("fmt"), py::arg("model"), py::arg("ring_fragmentation"), py::arg("recursive_ms"),
        py::arg("max_generations"), py::arg("time_limit"), py::arg("jobs"),
        "Predicts up to count molecules of a file from a position of molecule_file_chunks on into output "
        "(and its error file), numbered by their lines in the whole file.");
  m.def("library_output_header", [](const std::string& fmt) { return batch::output_header(format_argument(fmt)); },
        py::arg("fmt"), "The text a spectral-library file of this format starts with.");
  m.def("library_errors_header", [] { return batch::error_header(); },
        "The header line of a spectral library's error file.");
}

}  // namespace tessarin::bindings
