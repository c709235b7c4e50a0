// predict_library: batch spectrum prediction in worker processes.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/job.h"
#include "batch/library.h"
#include "batch/record.h"
#include "batch/writers.h"
#include "convert.h"
#include "core/errors.h"
#include "errors.h"
#include "prediction/predict.h"
#include "registry.h"
#include "run/input.h"
#include "run/pipeline.h"
#include "to_python.h"
#include "worker_command.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

// The run's line range from None or a (first, last) pair of lines, last None for the end.
std::optional<run::LineRange> line_range_argument(const py::handle& lines) {
  if (lines.is_none()) return std::nullopt;
  if (!(py::isinstance<py::tuple>(lines) || py::isinstance<py::list>(lines)) || py::len(lines) != 2) {
    throw py::type_error("lines must be None or a (first, last) pair of line numbers, not " +
                         std::string(py::repr(lines)));
  }
  run::LineRange range;
  range.first = static_cast<std::size_t>(integer_argument(lines[py::int_(0)], "lines' first line", 1, LLONG_MAX));
  const py::object last = lines[py::int_(1)];
  if (!last.is_none()) {
    range.last = static_cast<std::size_t>(integer_argument(last, "lines' last line", 1, LLONG_MAX));
    if (range.last < range.first)
      throw py::value_error("lines must have first <= last, got " + std::string(py::repr(lines)));
  }
  return range;
}

// The job's run opened: its check, input and output, each failure the
// exception a Python caller expects.
std::unique_ptr<batch::LibraryJobRun> open_job(const batch::LibraryJob& job, batch::JobHooks hooks) {
  std::unique_ptr<batch::LibraryJobRun> run;
  try {
    run = std::make_unique<batch::LibraryJobRun>(job, std::move(hooks));
  } catch (const UnusableFile& e) {  // run::UnusableInput too
    raise_os_error(e);
  } catch (const InvalidInput& e) {
    raise_python_error(PyExc_ValueError, e.what());
  } catch (const batch::ResumeRefused& e) {
    raise_python_error(PyExc_ValueError, e.what());
  } catch (const std::runtime_error& e) {
    raise_os_error(e);
  }
  return run;
}

// Runs an opened job without the GIL. Ctrl-C, or an exception raised by
// `progress` (a callable given the numbers of molecules done and failed, or
// none), stops it and reaches the caller; a refused resume raises ValueError,
// a failure to read or write OSError.
run::BatchSummary run_job(batch::LibraryJobRun& run, const bool& python_error) {
  run::BatchSummary summary;
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    try {
      summary = run.run();
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

// The hooks of a run from Python: the worker program, Ctrl-C and `progress`.
batch::JobHooks python_hooks(std::atomic<bool>& cancel, bool& python_error, py::handle progress) {
  batch::JobHooks hooks;
  hooks.workers = worker_command();
  hooks.cancel = &cancel;
  hooks.progress = [&cancel, &python_error, progress](const run::BatchProgress& p) {
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
  return hooks;
}

py::dict files_summary(const run::BatchSummary& summary, const batch::LibraryFiles& files) {
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

// The outcomes of a run without an output file: a record's dict, or the
// line, name, SMILES and error of a molecule that failed.
py::list outcomes_to_python(const std::vector<run::Outcome>& results) {
  py::list spectra;
  for (const run::Outcome& o : results) {
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

py::object predict_library(const py::handle& molecules, const std::optional<std::string>& input_path,
                           const std::optional<std::string>& output, const std::string& fmt, bool ring_fragmentation,
                           bool recursive_ms, const py::handle& jobs, const py::handle& model,
                           const py::handle& timeout_per_molecule, const py::handle& max_generations,
                           const py::handle& progress, bool resume, const py::handle& lines, std::size_t first_line) {
  if (first_line == 0) throw py::value_error("first_line must be at least 1");
  batch::LibraryJob job;
  job.format = format_argument(fmt);
  job.jobs = jobs_argument(jobs);
  if (output && output->empty()) throw py::value_error("output must be a file path or None");
  if (resume && !output) throw py::value_error("resume needs an output file");
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress must be callable or None, not " + type_name(progress));
  }
  const prediction::PredictionOptions chosen =
      prediction_options(model, ring_fragmentation, recursive_ms, max_generations);
  job.predict.analysis = chosen.analysis;
  job.predict.model = chosen.model;
  if (!timeout_per_molecule.is_none()) {
    job.predict.time_limit_seconds = finite_argument(timeout_per_molecule, "timeout_per_molecule");
    if (job.predict.time_limit_seconds < 0) throw py::value_error("timeout_per_molecule must not be negative");
  }
  job.lines = line_range_argument(lines);
  job.output = output.value_or(std::string());
  job.resume = resume;

  std::atomic<bool> cancel{false};
  bool python_error = false;
  batch::JobHooks hooks = python_hooks(cancel, python_error, progress);
  // The molecules: a file read by the native readers, or the caller's, read now.
  if (input_path) {
    job.input = *input_path;
  } else {
    hooks.molecules = molecule_inputs(molecules, "molecules");
    job.first_line = first_line;
  }
  std::vector<run::Outcome> results;
  if (!output) hooks.collect = [&results](run::Outcome& o) { results.push_back(std::move(o)); };
  const std::unique_ptr<batch::LibraryJobRun> run = open_job(job, std::move(hooks));
  const run::BatchSummary summary = run_job(*run, python_error);
  if (run->files() != nullptr) return files_summary(summary, *run->files());
  return outcomes_to_python(results);
}

// The job of its JSON text, checked: ValueError names what is wrong.
batch::LibraryJob job_of_json(const std::string& text) {
  try {
    const batch::LibraryJob job = batch::LibraryJob::from_json(nlohmann::json::parse(text));
    job.check();
    return job;
  } catch (const nlohmann::json::parse_error& e) {
    raise_python_error(PyExc_ValueError, std::string("a library job must be JSON text: ") + e.what());
  } catch (const InvalidInput& e) {
    raise_python_error(PyExc_ValueError, e.what());
  }
}

// A job in its JSON form, for the runs on a cluster: a file's part into a
// shard, or the molecules of a bag's partition. Returns what
// predict_library returns for a file, with "read", the molecules read, and
// "killed", the lines of the molecules whose worker process was killed from
// outside (another try may succeed).
py::dict run_library_job(const std::string& text, const py::handle& molecules) {
  batch::LibraryJob job = job_of_json(text);
  std::atomic<bool> cancel{false};
  bool python_error = false;
  batch::JobHooks hooks = python_hooks(cancel, python_error, py::none());
  if (!molecules.is_none()) {
    if (!job.input.empty()) throw py::value_error("a job with an input file takes no molecules");
    hooks.molecules = molecule_inputs(molecules, "molecules");
  }
  if (job.output.empty()) throw py::value_error("a library job run from its JSON form needs an output file");
  const std::unique_ptr<batch::LibraryJobRun> run = open_job(job, std::move(hooks));
  const run::BatchSummary summary = run_job(*run, python_error);
  py::dict out = files_summary(summary, *run->files());
  out["read"] = run->read();
  out["killed"] = summary.killed_lines;
  return out;
}

// The number of molecules the native readers find in a file (up to a read failure).
std::size_t count_input(const std::string& path, const py::handle& lines) {
  const std::optional<run::LineRange> range = line_range_argument(lines);
  std::optional<run::MoleculeFile> input;
  try {
    input.emplace(path);
  } catch (const run::UnusableInput& e) {
    raise_os_error(e);
  }
  if (range) input->reader().set_line_range(*range);
  std::size_t n = 0;
  {
    py::gil_scoped_release release;
    run::MoleculeInput m;
    try {
      while (input->reader().next(m)) ++n;
    } catch (const std::exception&) {
      // Counted up to the failure; the run itself reports it.
    }
  }
  return n;
}

// The number of molecules of a file and the reader's position (the JSON
// text of a job's part start) before every chunk_size-th one.
py::tuple molecule_file_chunks(const std::string& path, std::size_t chunk_size) {
  std::size_t molecules = 0;
  std::vector<run::ReaderPosition> starts;
  {
    py::gil_scoped_release release;
    starts = run::chunk_starts(path, chunk_size, molecules);
  }
  py::list out;
  for (const run::ReaderPosition& p : starts) out.append(json_to_python(batch::reader_position_json(p)));
  return py::make_tuple(molecules, out);
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
        "position before every chunk_size-th one, as a library job's part takes it.");
  m.def(
      "library_job", [](const std::string& text) { return job_of_json(text).to_json().dump(); }, py::arg("job"),
      "The JSON text of a library job, checked and with every field: ValueError names what cannot run.");
  m.def("run_library_job", &run_library_job, py::arg("job"), py::arg("molecules") = py::none(),
        "Runs a library job given as JSON text into its output file (with the molecules of a job without an "
        "input): {written, failed, errors, read, killed}.");
  m.def(
      "library_output_format",
      [](const std::string& path) {
        return std::string(
            batch::output_format_name(batch::output_format_of_path(path).value_or(batch::OutputFormat::msp)));
      },
      py::arg("path"), "The format a library file's name declares (.msp, .jsonl, .csv, .mgf), else \"msp\".");
  m.def(
      "library_output_header", [](const std::string& fmt) { return batch::output_header(format_argument(fmt)); },
      py::arg("fmt"), "The text a spectral-library file of this format starts with.");
  m.def(
      "library_errors_header", [] { return batch::error_header(); },
      "The header line of a spectral library's error file.");
}

}  // namespace tessarin::bindings
