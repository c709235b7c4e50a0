// Spectra as data, their scores, the library search, candidate ranking and
// the evaluation of predictions against measured spectra.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/SmilesParse/SmilesParse.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert.h"
#include "errors.h"
#include "identify/evaluate.h"
#include "identify/explain.h"
#include "identify/library_search.h"
#include "identify/rank.h"
#include "identify/tables.h"
#include "interrupt.h"
#include "prediction/ei_model.h"
#include "prediction/ei_weights.h"
#include "registry.h"
#include "spectra/isotopes.h"
#include "spectra/molecular_mass.h"
#include "spectra/reader.h"
#include "spectra/search.h"
#include "spectra/similarity.h"
#include "spectra/writer.h"
#include "to_python.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

// The Python type of a malformed record (a ValueError with path, line and
// reason attributes).
PyObject* g_record_error_type = nullptr;

[[noreturn]] void raise_record_error(const spectra::RecordError& e) {
  py::object error = py::reinterpret_borrow<py::object>(g_record_error_type)(e.what());
  error.attr("path") = lenient_text(e.path());
  error.attr("line") = e.line();
  error.attr("reason") = lenient_text(e.reason());
  PyErr_SetObject(g_record_error_type, error.ptr());
  throw py::error_already_set();
}

py::tuple record_error_to_python(const spectra::RecordError& e) {
  return py::make_tuple(lenient_text(e.path()), e.line(), lenient_text(e.reason()));
}

// A long native run on worker threads with the GIL released: Ctrl-C stops
// it (the batch's cancel flag) and reaches the caller as KeyboardInterrupt.
// A failure of the run itself is kept and raised with the GIL held again.
class NativeRun {
 public:
  std::atomic<bool> cancel{false};

  // For the calling thread while the run goes on (it holds no GIL then).
  // The KeyboardInterrupt stays pending on this thread until the run ends.
  void check_signals() {
    if (interrupted_) return;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      interrupted_ = true;
      cancel = true;
    }
  }
  std::function<void(const run::BatchProgress&)> progress() {
    return [this](const run::BatchProgress&) { check_signals(); };
  }

  // Runs `work` without the GIL; raises the interrupt, or rethrows what
  // `work` threw, once the GIL is back.
  template <class Work>
  void operator()(Work&& work) {
    std::exception_ptr failure;
    {
      py::gil_scoped_release release;
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
    }
    if (interrupted_) throw py::error_already_set();
    if (failure) std::rethrow_exception(failure);
  }

 private:
  bool interrupted_ = false;
};

// Where the candidates come from: a file path, or Python molecules.
struct CandidateSource {
  std::unique_ptr<run::MoleculeFile> file;
  std::vector<run::MoleculeInput> molecules;
  std::size_t next = 0;

  explicit CandidateSource(py::handle candidates) {
    if (py::isinstance<py::str>(candidates) || py::isinstance<py::bytes>(candidates) ||
        py::hasattr(candidates, "__fspath__")) {
      file = std::make_unique<run::MoleculeFile>(path_argument(candidates, "candidates"));
    } else {
      molecules = molecule_inputs(candidates, "candidates");
    }
  }
  identify::MoleculeSource source() {
    if (file) return [this](run::MoleculeInput& m) { return file->next(m); };
    return [this](run::MoleculeInput& m) {
      if (next >= molecules.size()) return false;
      m = std::move(molecules[next++]);
      return true;
    };
  }
};

identify::PredictionRun prediction_run(py::handle model, bool ring_fragmentation, bool recursive_ms,
                                       py::handle max_generations, py::handle jobs, py::handle time_limit) {
  identify::PredictionRun run;
  run.prediction = prediction_options(model, ring_fragmentation, recursive_ms, max_generations);
  run.jobs = jobs_argument(jobs);
  const std::optional<double> limit = optional_number_argument(time_limit, "time_limit");
  if (limit && *limit <= 0) throw py::value_error("time_limit must be a positive number of seconds or None");
  run.time_limit_seconds = limit.value_or(0.0);
  return run;
}

bool is_path(py::handle value) {
  return py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || py::hasattr(value, "__fspath__");
}

py::object optional_to_python(const std::optional<double>& v) { return v ? py::object(py::float_(*v)) : py::none(); }

py::dict evaluated_to_python(const identify::EvaluatedSpectrum& e) {
  const spectra::MoleculeEvaluation& m = e.measures;
  py::dict d;
  d["record"] = e.record;
  d["file"] = e.path.empty() ? py::object(py::none()) : py::object(lenient_text(e.path));
  d["line"] = e.line ? py::object(py::int_(e.line)) : py::object(py::none());
  d["accession"] = lenient_text(e.accession);
  d["name"] = lenient_text(e.name);
  d["smiles"] = lenient_text(e.smiles);
  d["formula"] = lenient_text(e.formula);
  d["nominal_mass"] = e.nominal_mass ? py::object(py::int_(*e.nominal_mass)) : py::object(py::none());
  d["score"] = optional_to_python(m.score);
  d["recall_at_5"] = optional_to_python(m.peaks.recall);
  d["precision"] = optional_to_python(m.peaks.precision);
  d["base_peak_hit"] = m.peaks.base_peak_hit ? py::object(py::bool_(*m.peaks.base_peak_hit)) : py::object(py::none());
  d["candidates"] = m.rank ? py::object(py::int_(e.candidates)) : py::object(py::none());
  d["rank"] = m.rank ? py::object(py::float_(m.rank->rank)) : py::object(py::none());
  d["top1"] = m.rank ? py::object(py::float_(m.rank->top1)) : py::object(py::none());
  d["top3"] = m.rank ? py::object(py::float_(m.rank->top3)) : py::object(py::none());
  d["reciprocal_rank"] = m.rank ? py::object(py::float_(m.rank->reciprocal_rank)) : py::object(py::none());
  d["error"] = e.error.empty() ? py::object(py::none()) : py::object(lenient_text(e.error));
  return d;
}

py::dict summary_to_python(const identify::Evaluation& ev) {
  const spectra::EvaluationSummary& s = ev.summary;
  auto mean = [](const spectra::Mean& m) { return m.count ? py::object(py::float_(m.value)) : py::object(py::none()); };
  py::dict d;
  d["spectra"] = s.molecules;
  d["evaluated"] = s.score.count;
  d["structures"] = ev.structures;
  d["failed_structures"] = ev.failed_structures;
  d["score"] = mean(s.score);
  d["recall_at_5"] = mean(s.recall);
  d["precision"] = mean(s.precision);
  d["base_peak_hit"] = mean(s.base_peak_hit);
  d["top1"] = mean(s.top1);
  d["top3"] = mean(s.top3);
  d["mrr"] = mean(s.reciprocal_rank);
  d["mean_rank"] = mean(s.candidates_rank);
  d["mean_candidates"] = ev.mean_candidates;
  return d;
}

py::object reader_next(spectra::SpectrumReader& reader) {
  spectra::Spectrum s;
  bool got = false;
  try {
    got = reader.next(s);
  } catch (const spectra::RecordError& e) {
    raise_record_error(e);
  } catch (const std::runtime_error& e) {
    raise_os_error(e);
  }
  if (!got) throw py::stop_iteration();
  return spectrum_to_python(s);
}

}  // namespace

void register_spectra(py::module_& m, py::module_& testing) {
  // The EI model's candidate ions and weight table, which the fitting script
  // (scripts/fit_ei_model.py) reads.
  testing.def(
      "ei_candidate_ions",
      [](const std::string& smiles) {
        py::list out;
        for (const prediction::EiIon& ion : prediction::ei_candidate_ions(smiles)) {
          py::list features;
          for (const auto& [name, value] : ion.features) features.append(py::make_tuple(name, value));
          py::list cluster;
          for (const spectra::IsotopePeak& p : ion.cluster) cluster.append(py::make_tuple(p.mz, p.abundance));
          out.append(py::make_tuple(ion.mz, ion.formula, ion.neutral, features, cluster));
        }
        return out;
      },
      "smiles"_a,
      "Candidate ions of the EI model: (m/z, formula, neutral formula, [(feature, value)], [(m/z, abundance)]).");
  testing.def(
      "isotope_cluster",
      [](const std::vector<std::pair<int, int>>& elements, const std::vector<std::pair<int, int>>& labelled) {
        std::vector<spectra::ElementCount> counts;
        for (const auto& [z, n] : elements) counts.push_back(spectra::ElementCount{z, n});
        std::vector<spectra::LabelledAtom> labels;
        for (const auto& [z, a] : labelled) labels.push_back(spectra::LabelledAtom{z, a});
        py::list out;
        for (const spectra::IsotopePeak& p : spectra::isotope_cluster(counts, labels))
          out.append(py::make_tuple(p.mz, p.abundance));
        return out;
      },
      "elements"_a, "labelled"_a,
      "The isotope cluster of an ion of (atomic number, count) and labelled (atomic number, mass number) atoms.");
  testing.def(
      "ei_weights",
      [] {
        py::list weights;
        for (const prediction::EiWeight& w : prediction::ei_weights()) weights.append(py::make_tuple(w.name, w.weight));
        return py::dict("weights"_a = weights, "floor"_a = prediction::kEiIntensityFloor);
      },
      "The EI model's weight table and intensity floor.");

  static py::exception<spectra::RecordError> record_error(m, "SpectrumRecordError", PyExc_ValueError);
  g_record_error_type = record_error.ptr();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const spectra::RecordError& e) {
      raise_record_error(e);
    }
  });

  m.def(
      "spectrum_from_peaks",
      [](py::handle mz, py::handle intensities, py::handle annotations, py::handle metadata) {
        return spectrum_to_python(spectrum_from_parts(mz, intensities, annotations, metadata));
      },
      "mz"_a, "intensities"_a, "annotations"_a, "metadata"_a,
      "A spectrum's parts (mz, intensities, annotations, metadata) checked and sorted by m/z.");

  m.def(
      "spectrum_normalized",
      [](py::handle spectrum, py::handle scale) {
        const double factor = finite_argument(scale, "scale");
        if (factor <= 0) throw py::value_error("scale must be a positive number, not " + std::string(py::repr(scale)));
        return spectrum_to_python(spectrum_argument(spectrum, "spectrum").normalized(factor));
      },
      "spectrum"_a, "scale"_a, "The parts of a copy scaled so that the base peak is `scale`.");

  m.def(
      "predict_spectrum",
      [](py::handle molecule, bool ring_fragmentation, bool recursive_ms, py::handle max_generations,
         py::handle model) {
        const std::string smiles = smiles_argument(molecule, "smiles_or_mol");
        const prediction::PredictionOptions options =
            prediction_options(model, ring_fragmentation, recursive_ms, max_generations);
        const core::InterruptCheck signals = python_signal_check();
        std::optional<spectra::Spectrum> s =
            prediction::predict_spectrum(smiles, options, [&signals](std::string_view) { signals(); });
        if (!s) throw py::value_error("cannot read the SMILES " + std::string(py::repr(py::str(smiles))));
        return spectrum_to_python(*s);
      },
      "molecule"_a, "ring_fragmentation"_a, "recursive_ms"_a, "max_generations"_a, "model"_a,
      "The parts of a molecule's predicted spectrum.");

  py::class_<spectra::SpectrumReader>(m, "SpectrumReader",
                                      "Records of a spectrum file, one at a time, as spectrum parts.")
      .def(py::init([](py::handle path, py::handle format) {
             return spectra::SpectrumReader(path_argument(path, "path"), spectrum_format_argument(format));
           }),
           "path"_a, "format"_a = py::none())
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &reader_next)
      .def_property_readonly("format",
                             [](const spectra::SpectrumReader& r) { return spectra::format_name(r.format()); })
      .def_property_readonly(
          "record_path", [](const spectra::SpectrumReader& r) { return lenient_text(r.record_path()); },
          "The file of the record last returned or refused.")
      .def_property_readonly(
          "record_line", [](const spectra::SpectrumReader& r) { return r.record_line(); },
          "The first line of the record last returned or refused.");

  m.def(
      "write_spectra",
      [](py::handle spectra_, py::handle path, py::handle format) {
        if (py::isinstance<py::str>(spectra_) || !py::hasattr(spectra_, "__iter__")) {
          throw py::type_error("spectra must be an iterable of Spectrum objects, not " + type_name(spectra_));
        }
        const std::string file = path_argument(path, "path");
        const std::optional<spectra::Format> f = spectrum_format_argument(format);
        std::optional<spectra::SpectrumWriter> writer;
        try {
          writer.emplace(file, f);
        } catch (const std::runtime_error& e) {
          raise_os_error(e);
        }
        std::size_t written = 0;
        const auto system_failure = [](const std::runtime_error& e) { raise_os_error(e); };
        for (py::handle item : py::reinterpret_borrow<py::iterable>(spectra_)) {
          const spectra::Spectrum s = spectrum_argument(item, "spectrum " + std::to_string(written));
          try {
            writer->write(s);
          } catch (const std::runtime_error& e) {
            system_failure(e);
          }
          ++written;
        }
        try {
          writer->close();
        } catch (const std::runtime_error& e) {
          system_failure(e);
        }
        return written;
      },
      "spectra"_a, "path"_a, "format"_a, "Writes spectra to a file; returns their number.");

  m.def(
      "similarity",
      [](py::handle a, py::handle b, py::handle method, py::handle tolerance, py::handle mz_power,
         py::handle intensity_power, bool reverse, bool measured_range) {
        spectra::SimilarityOptions o = similarity_options(method, tolerance, mz_power, intensity_power, reverse);
        o.measured_range = measured_range;
        const spectra::Similarity s = spectra::similarity(spectrum_argument(a, "a"), spectrum_argument(b, "b"), o);
        py::list pairs;
        for (const auto& [i, j] : s.pairs) pairs.append(py::make_tuple(i, j));
        return py::make_tuple(s.score, pairs);
      },
      "a"_a, "b"_a, "method"_a, "tolerance"_a, "mz_power"_a, "intensity_power"_a, "reverse"_a, "measured_range"_a,
      "(score, matched pairs) of spectrum a against b.");

  m.def(
      "rank_candidates",
      [](py::handle spectrum, py::handle candidates, py::handle method, py::handle tolerance, py::handle mz_power,
         py::handle intensity_power, bool reverse, py::handle mass, py::handle formula, py::handle model,
         bool ring_fragmentation, bool recursive_ms, py::handle max_generations, py::handle jobs, py::handle time_limit,
         bool measured_range) {
        identify::RankOptions options;
        const spectra::Spectrum measured = spectrum_argument(spectrum, "spectrum");
        options.score = similarity_options(method, tolerance, mz_power, intensity_power, reverse);
        options.score.measured_range = measured_range;
        const bool auto_mass = py::isinstance<py::str>(mass) && mass.cast<std::string>() == "auto";
        if (auto_mass) {
          options.mass_hypotheses = identify::searched_masses(measured);
        } else {
          options.filter.nominal_mass = mass_filter_argument(mass, measured);
        }
        if (!formula.is_none()) options.filter.formula = utf8_text(formula, "formula");
        options.run = prediction_run(model, ring_fragmentation, recursive_ms, max_generations, jobs, time_limit);
        CandidateSource source(candidates);
        NativeRun run;
        options.run.cancel = &run.cancel;
        options.run.progress = run.progress();
        identify::Ranking ranking;
        run([&] {
          ranking = identify::rank_candidates(measured, source.source(), options);
          if (auto_mass && !ranking.cancelled) (void)identify::candidates_across_masses(measured, ranking);
        });
        py::list rows;
        for (const identify::RankedCandidate& r : ranking.rows) {
          rows.append(
              py::make_tuple(r.rank, r.score, r.matched, lenient_text(r.name), lenient_text(r.smiles),
                             lenient_text(r.formula), spectrum_to_python(r.predicted), r.position, r.line,
                             r.mass ? py::object(py::make_tuple(r.mass->mass, r.mass->score)) : py::object(py::none()),
                             r.mass ? py::object(py::float_(r.rank_score)) : py::object(py::none())));
        }
        py::list failed;
        for (const identify::FailedMolecule& f : ranking.failed) {
          failed.append(
              py::make_tuple(f.position, f.line, lenient_text(f.name), lenient_text(f.smiles), lenient_text(f.reason)));
        }
        return py::make_tuple(rows, failed, ranking.filtered_out);
      },
      "spectrum"_a, "candidates"_a, "method"_a, "tolerance"_a, "mz_power"_a, "intensity_power"_a, "reverse"_a, "mass"_a,
      "formula"_a, "model"_a, "ring_fragmentation"_a, "recursive_ms"_a, "max_generations"_a, "jobs"_a, "time_limit"_a,
      "measured_range"_a, "(rows, failed, filtered_out): candidates predicted and ranked against a measured spectrum.");

  m.def(
      "explain_peaks",
      [](py::handle spectrum, const std::string& smiles, bool measured_range) {
        const spectra::Spectrum measured = spectrum_argument(spectrum, "spectrum");
        identify::ExplainOptions options;
        options.score.measured_range = measured_range;
        identify::PeakExplanation why;
        {
          py::gil_scoped_release release;
          why = identify::explain_peaks(measured, smiles, options);
        }
        py::list peaks;
        for (const identify::ExplainedPeak& p : why.peaks) {
          py::list ions;
          for (const identify::IonAtPeak& ion : p.ions) {
            py::list reasons;
            for (const std::string& r : ion.reasons) reasons.append(lenient_text(r));
            ions.append(py::make_tuple(lenient_text(ion.formula), ion.isotope_offset, ion.share, ion.molecular,
                                       lenient_text(ion.neutral), reasons));
          }
          peaks.append(
              py::make_tuple(p.mz, p.intensity, p.relative,
                             p.predicted_mz > 0 ? py::object(py::int_(p.predicted_mz)) : py::object(py::none()),
                             p.predicted_relative, ions));
        }
        return py::make_tuple(peaks, why.explained_share, why.unexplained_strong, why.score,
                              spectrum_to_python(why.predicted));
      },
      "spectrum"_a, "smiles"_a, "measured_range"_a,
      "(peaks, explained share, unexplained strong peak indices, score, predicted spectrum parts).");

  m.def(
      "search_library",
      [](py::handle queries, py::handle library, py::handle top, py::handle method, py::handle tolerance,
         py::handle mz_power, py::handle intensity_power, bool reverse, py::handle min_score, py::handle mass_tolerance,
         py::handle jobs, bool skip_errors, bool measured_range, bool auto_mass) {
        spectra::SearchOptions options;
        options.similarity = similarity_options(method, tolerance, mz_power, intensity_power, reverse);
        options.similarity.measured_range = measured_range;
        options.top = static_cast<std::size_t>(integer_argument(top, "top", 0, 1'000'000));
        options.min_score = finite_argument(min_score, "min_score");
        options.mass_tolerance = optional_number_argument(mass_tolerance, "mass_tolerance");
        if (options.mass_tolerance && *options.mass_tolerance < 0) {
          throw py::value_error("mass_tolerance must not be negative");
        }
        options.threads = jobs_argument(jobs);

        std::vector<spectra::Spectrum> query_list;
        std::optional<std::string> query_path;
        if (is_path(queries)) {
          query_path = path_argument(queries, "queries");
        } else {
          query_list = spectrum_list(queries, "queries");
        }
        std::optional<std::string> library_path;
        std::optional<spectra::SpectralLibrary> in_memory;
        if (is_path(library)) {
          library_path = path_argument(library, "library");
        } else {
          in_memory.emplace();
          for (const spectra::Spectrum& s : spectrum_list(library, "library")) in_memory->add(s);
        }

        std::vector<spectra::RecordError> refused;
        std::vector<identify::QueryResult> results;
        std::optional<spectra::SpectralLibrary> read_library;
        NativeRun run;
        run([&] {
          if (!in_memory) {
            read_library =
                spectra::SpectralLibrary::read(*library_path, std::nullopt, skip_errors ? &refused : nullptr);
            run.check_signals();
            if (run.cancel) return;
          }
          const spectra::SpectralLibrary& lib = in_memory ? *in_memory : *read_library;
          if (!query_path && auto_mass) {
            identify::search_plausible_masses(lib, query_list, options, {}, results);
            for (std::size_t i = 0; i < results.size(); ++i) {
              results[i].query = i;
              results[i].spectrum = std::move(query_list[i]);
            }
            return;
          }
          if (!query_path) {
            std::vector<spectra::QueryHits> found = lib.search(query_list, options);
            for (std::size_t i = 0; i < found.size(); ++i) {
              identify::QueryResult q;
              q.query = i;
              q.spectrum = std::move(query_list[i]);
              q.hits = std::move(found[i].hits);
              q.error = std::move(found[i].error);
              results.push_back(std::move(q));
            }
            return;
          }
          identify::QuerySearch search;
          search.queries = {*query_path};
          search.options = options;
          search.mass_hypotheses = auto_mass;
          search.result = [&results](const identify::QueryResult& q) { results.push_back(q); };
          if (skip_errors) search.record_error = [&refused](const spectra::RecordError& e) { refused.push_back(e); };
          search.cancel = &run.cancel;
          search.after_batch = [&run] { run.check_signals(); };
          identify::search_queries(lib, search);
        });
        const spectra::SpectralLibrary& lib = in_memory ? *in_memory : *read_library;
        py::list out;
        for (const identify::QueryResult& q : results) {
          py::list hits;
          for (std::size_t k = 0; k < q.hits.size(); ++k) {
            const spectra::Hit& h = q.hits[k];
            py::object mass = py::none();
            py::object rank_score = py::none();
            if (k < q.hit_hypotheses.size()) {
              const identify::HypothesisHit& x = q.hit_hypotheses[k];
              mass = py::make_tuple(x.mass.mass, x.mass.score);
              rank_score = py::float_(x.rank_score);
            }
            hits.append(
                py::make_tuple(h.index, h.score, h.matched, spectrum_to_python(lib.entry(h.index)), mass, rank_score));
          }
          out.append(py::make_tuple(spectrum_to_python(q.spectrum), hits,
                                    q.error.empty() ? py::object(py::none()) : py::object(lenient_text(q.error))));
        }
        py::list errors;
        for (const spectra::RecordError& e : refused) errors.append(record_error_to_python(e));
        return py::make_tuple(out, errors);
      },
      "queries"_a, "library"_a, "top"_a, "method"_a, "tolerance"_a, "mz_power"_a, "intensity_power"_a, "reverse"_a,
      "min_score"_a, "mass_tolerance"_a, "jobs"_a, "skip_errors"_a, "measured_range"_a, "auto_mass"_a,
      "([(query parts, [(index, score, matched, entry parts, (mass, mass score) or None, rank score or None)], "
      "error)], refused records).");

  m.def(
      "evaluate",
      [](py::handle spectra_, py::handle method, py::handle tolerance, py::handle mz_power, py::handle intensity_power,
         py::handle model, bool ring_fragmentation, bool recursive_ms, py::handle max_generations, py::handle jobs,
         py::handle time_limit, bool skip_errors) {
        identify::EvaluateOptions options;
        options.identification = similarity_options(method, tolerance, mz_power, intensity_power, false);
        options.score = options.identification;
        options.run = prediction_run(model, ring_fragmentation, recursive_ms, max_generations, jobs, time_limit);
        NativeRun run;
        options.run.cancel = &run.cancel;
        options.run.progress = run.progress();
        std::vector<spectra::RecordError> refused;
        identify::Evaluation ev;
        if (is_path(spectra_)) {
          const std::string path = path_argument(spectra_, "spectra");
          run([&] {
            std::function<void(const spectra::RecordError&)> sink;
            if (skip_errors) sink = [&refused](const spectra::RecordError& e) { refused.push_back(e); };
            ev = identify::evaluate_files({path}, options, sink);
          });
        } else {
          const std::vector<spectra::Spectrum> measured = spectrum_list(spectra_, "spectra");
          run([&] { ev = identify::evaluate_spectra(measured, options); });
        }
        py::list rows;
        for (const identify::EvaluatedSpectrum& e : ev.spectra) rows.append(evaluated_to_python(e));
        py::list errors;
        for (const spectra::RecordError& e : refused) errors.append(record_error_to_python(e));
        return py::make_tuple(rows, summary_to_python(ev), identify::evaluation_summary(ev, options), errors);
      },
      "spectra"_a, "method"_a, "tolerance"_a, "mz_power"_a, "intensity_power"_a, "model"_a, "ring_fragmentation"_a,
      "recursive_ms"_a, "max_generations"_a, "jobs"_a, "time_limit"_a, "skip_errors"_a,
      "(per-spectrum dicts, summary dict, summary text, refused records) of predictions against measured spectra.");
}

}  // namespace tessarin::bindings
