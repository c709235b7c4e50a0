// predict_library: batch spectrum prediction in worker processes.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <climits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <filesystem>

#include "batch/input.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/resume.h"
#include "batch/writers.h"
#include "convert.h"
#include "core/errors.h"
#include "errors.h"
#include "prediction/predict.h"
#include "registry.h"
#include "tessarin/version.h"
#include "to_python.h"
#include "worker_command.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

// The run's line range from None or a (first, last) pair of lines, last None for the end.
std::optional<batch::LineRange> line_range_argument(const py::handle& lines) {
  if (lines.is_none()) return std::nullopt;
  if (!(py::isinstance<py::tuple>(lines) || py::isinstance<py::list>(lines)) || py::len(lines) != 2) {
    throw py::type_error("lines must be None or a (first, last) pair of line numbers, not " +
                         std::string(py::repr(lines)));
  }
  batch::LineRange range;
  range.first = static_cast<std::size_t>(integer_argument(lines[py::int_(0)], "lines' first line", 1, LLONG_MAX));
  const py::object last = lines[py::int_(1)];
  if (!last.is_none()) {
    range.last = static_cast<std::size_t>(integer_argument(last, "lines' last line", 1, LLONG_MAX));
    if (range.last < range.first)
      throw py::value_error("lines must have first <= last, got " + std::string(py::repr(lines)));
  }
  return range;
}

// Runs the request without the GIL. Ctrl-C, or an exception raised by
// `progress` (a callable given the numbers of molecules done and failed, or
// none), stops it and reaches the caller; a refused resume raises ValueError,
// a failure to read or write OSError.
batch::BatchSummary run_interruptible(batch::LibraryRequest& request, py::handle progress = py::handle()) {
  std::atomic<bool> cancel{false};
  bool python_error = false;
  request.progress = [&cancel, &python_error, progress](const batch::BatchProgress& p) {
    py::gil_scoped_acquire gil;
    if (python_error) return;
    if (PyErr_CheckSignals() != 0) {  // Ctrl-C: keep the KeyboardInterrupt for the caller
      python_error = true;
      cancel = true;
      return;
    }
    if (!progress || progress.is_none()) return;
    PyObject* r = PyObject_CallFunction(progress.ptr(), "nn", static_cast<Py_ssize_t>(p.written),
                                        static_cast<Py_ssize_t>(p.failed));
    if (r == nullptr) {
      python_error = true;
      cancel = true;
      return;
    }
    Py_DECREF(r);
  };
  request.cancel = &cancel;

  batch::BatchSummary summary;
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    try {
      summary = batch::predict_library(request);
    } catch (const std::exception&) {
      failure = std::current_exception();
    }
  }
  if (python_error) throw py::error_already_set();
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const batch::ResumeRefused& e) {
      raise_python_error(PyExc_ValueError, e.what());
    } catch (const std::exception& e) {
      raise_os_error(e);
    }
  }
  return summary;
}

void open_library_files(std::optional<batch::LibraryFiles>& files, const std::string& output,
                        batch::OutputFormat format, const batch::RunDescription* run = nullptr, bool resume = false) {
  try {
    files.emplace(output, format, run, resume);
  } catch (const batch::ResumeRefused& e) {
    raise_python_error(PyExc_ValueError, e.what());
  } catch (const std::runtime_error& e) {
    raise_os_error(e);
  } catch (const UnusableFile& e) {
    raise_os_error(e);
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
  if (!format)
    throw py::value_error("fmt must be \"msp\", \"jsonl\", \"csv\" or \"mgf\", got " +
                          std::string(py::repr(py::str(fmt))));
  return *format;
}

py::object predict_library(const py::handle& molecules, const std::optional<std::string>& input_path,
                           const std::optional<std::string>& output, const std::string& fmt, bool ring_fragmentation,
                           bool recursive_ms, const py::handle& jobs, const py::handle& model,
                           const py::handle& timeout_per_molecule, const py::handle& max_generations,
                           const py::handle& progress, bool resume, const py::handle& lines, std::size_t first_line) {
  if (first_line == 0) throw py::value_error("first_line must be at least 1");
  const batch::OutputFormat format = format_argument(fmt);
  const unsigned n_jobs = jobs_argument(jobs);
  if (output && output->empty()) throw py::value_error("output must be a file path or None");
  if (resume && !output) throw py::value_error("resume needs an output file");
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress must be callable or None, not " + type_name(progress));
  }
  batch::LibraryRequest request;
  const prediction::PredictionOptions chosen =
      prediction_options(model, ring_fragmentation, recursive_ms, max_generations);
  request.options.analysis = chosen.analysis;
  request.options.model = chosen.model;
  if (!timeout_per_molecule.is_none()) {
    request.options.time_limit_seconds = finite_argument(timeout_per_molecule, "timeout_per_molecule");
    if (request.options.time_limit_seconds < 0) throw py::value_error("timeout_per_molecule must not be negative");
  }
  request.jobs = n_jobs;
  request.workers = worker_command();
  const std::optional<batch::LineRange> range = line_range_argument(lines);

  // The molecules: a file read by the native readers, or the caller's, read now.
  std::optional<batch::MoleculeFile> input;
  std::vector<batch::MoleculeInput> inputs;
  batch::RunDescription run;
  run.program = std::string("tessarin ") + kVersion;
  if (input_path) {
    try {
      input.emplace(*input_path);
    } catch (const batch::UnusableInput& e) {
      raise_os_error(e);
    }
    if (range) input->reader().set_line_range(*range);
    batch::describe_input_file(run, *input_path);
  } else {
    inputs = molecule_inputs(molecules, "molecules");
    for (batch::MoleculeInput& m : inputs) m.line += first_line - 1;
    if (range) {
      std::erase_if(inputs, [&range](const batch::MoleculeInput& m) { return !range->contains(m.line); });
    }
    run.input = "molecules given in Python";
  }
  run.lines = range;
  run.format = format;
  run.options = request.options.analysis;
  run.model = request.options.model;

  std::optional<batch::LibraryFiles> files;
  if (output) {
    open_library_files(files, *output, format, &run, resume);
    request.files = &*files;
  }

  std::vector<batch::Outcome> results;
  std::size_t next = 0;
  if (input) {
    batch::MoleculeReader& reader = input->reader();
    request.read = [&reader](batch::MoleculeInput& m) { return reader.next(m); };
  } else {
    request.read = [&inputs, &next](batch::MoleculeInput& m) {
      if (next >= inputs.size()) return false;
      m = std::move(inputs[next++]);
      return true;
    };
  }
  request.collect = [&results](batch::Outcome& o) { results.push_back(std::move(o)); };
  const batch::BatchSummary summary = run_interruptible(request, progress);

  if (files) return files_summary(summary, *files);
  py::list spectra;
  for (const batch::Outcome& o : results) {
    if (o.succeeded()) {
      spectra.append(json_to_python(nlohmann::ordered_json::parse(o.text)));
    } else {
      py::dict failed;
      failed["line"] = o.input.line;
      failed["name"] = lenient_text(o.input.name);
      failed["smiles"] = lenient_text(o.input.smiles);
      failed["error"] = lenient_text(o.error);
      spectra.append(failed);
    }
  }
  return spectra;
}

// The number of molecules the native readers find in a file (up to a read failure).
std::size_t count_input(const std::string& path, const py::handle& lines) {
  const std::optional<batch::LineRange> range = line_range_argument(lines);
  std::optional<batch::MoleculeFile> input;
  try {
    input.emplace(path);
  } catch (const batch::UnusableInput& e) {
    raise_os_error(e);
  }
  if (range) input->reader().set_line_range(*range);
  std::size_t n = 0;
  {
    py::gil_scoped_release release;
    batch::MoleculeInput m;
    try {
      while (input->reader().next(m)) ++n;
    } catch (const std::exception&) {
      // Counted up to the failure; the run itself reports it.
    }
  }
  return n;
}

using PositionTuple = std::tuple<std::uint64_t, std::size_t, bool, bool, std::optional<std::size_t>,
                                 std::optional<std::size_t>, std::optional<std::size_t>, std::optional<std::size_t>>;

PositionTuple position_tuple(const batch::ReaderPosition& p) {
  return {p.offset, p.line, p.seen_content, p.header_read, p.smiles_column, p.name_column, p.id_column, p.cas_column};
}

batch::ReaderPosition reader_position(const PositionTuple& t) {
  batch::ReaderPosition p;
  std::tie(p.offset, p.line, p.seen_content, p.header_read, p.smiles_column, p.name_column, p.id_column, p.cas_column) =
      t;
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

  batch::MoleculeFile file(path, from);
  batch::MoleculeReader& reader = file.reader();

  batch::LibraryRequest request;
  request.options.analysis.ring_fragmentation = ring_fragmentation;
  request.options.analysis.recursive = recursive_ms;
  request.options.analysis.max_generations = max_generations;
  request.options.time_limit_seconds = time_limit;
  request.options.model = *known;
  request.jobs = jobs_argument(jobs);
  request.workers = worker_command();
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
      pieces.push_back(
          {py::str(t[0]), 0.0, static_cast<int>(integer_argument(t[2], "a fragment's m/z", INT_MIN, INT_MAX))});
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
  m.def("predict_library", &predict_library, py::arg("molecules"), py::arg("input_path"), py::arg("output"),
        py::arg("fmt"), py::arg("ring_fragmentation"), py::arg("recursive_ms"), py::arg("jobs"), py::arg("model"),
        py::arg("timeout_per_molecule"), py::arg("max_generations"), py::arg("progress"), py::arg("resume"),
        py::arg("lines"), py::arg("first_line") = 1,
        "Predicted EI spectra of many molecules in worker processes, in input order; molecules given in "
        "Python are numbered from first_line on.");
  m.def(
      "count_molecules", [](const std::string& path, const py::handle& lines) { return count_input(path, lines); },
      py::arg("path"), py::arg("lines"), "The number of molecules the native readers find in a file.");
  m.def("molecule_file_chunks", &molecule_file_chunks, py::arg("path"), py::arg("chunk_size"),
        "(molecules, starts): the number of molecules of a SMILES, SDF or CSV/TSV file and the reader's "
        "position before every chunk_size-th one.");
  m.def("predict_file_chunk", &predict_file_chunk, py::arg("path"), py::arg("start"), py::arg("count"),
        py::arg("output"), py::arg("fmt"), py::arg("model"), py::arg("ring_fragmentation"), py::arg("recursive_ms"),
        py::arg("max_generations"), py::arg("time_limit"), py::arg("jobs"),
        "Predicts up to count molecules of a file from a position of molecule_file_chunks on into output "
        "(and its error file), numbered by their lines in the whole file.");
  m.def(
      "library_output_header", [](const std::string& fmt) { return batch::output_header(format_argument(fmt)); },
      py::arg("fmt"), "The text a spectral-library file of this format starts with.");
  m.def(
      "library_output_format",
      [](const std::string& path) {
        return std::string(
            batch::output_format_name(batch::output_format_of_path(path).value_or(batch::OutputFormat::msp)));
      },
      py::arg("path"), "The format a library file's name declares (.msp, .jsonl, .csv, .mgf), else \"msp\".");
  m.def(
      "library_errors_header", [] { return batch::error_header(); },
      "The header line of a spectral library's error file.");
}

}  // namespace tessarin::bindings
