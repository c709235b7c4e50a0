// The molecular mass of unknown spectra: ranked hypotheses with their evidence.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "convert.h"
#include "identify/library_search.h"
#include "registry.h"
#include "spectra/molecular_mass.h"
#include "spectra/search.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

// None, a spectrum file's path, or an iterable of spectra.
std::optional<spectra::SpectralLibrary> library_argument(py::handle library) {
  if (library.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(library) || py::isinstance<py::bytes>(library) || py::hasattr(library, "__fspath__")) {
    const std::string path = path_argument(library, "library");
    py::gil_scoped_release release;
    return spectra::SpectralLibrary::read(path);
  }
  spectra::SpectralLibrary lib;
  for (const spectra::Spectrum& s : spectrum_list(library, "library")) lib.add(s);
  return lib;
}

}  // namespace

void register_molecular_mass(py::module_& m, py::module_& testing) {
  m.def(
      "estimate_molecular_masses",
      [](py::handle spectra_, py::handle library, py::handle max_hypotheses, py::handle min_score,
         py::handle plausible_ratio, py::handle max_plausible, py::handle jobs) {
        spectra::MassEstimateOptions options;
        options.max_hypotheses = static_cast<std::size_t>(integer_argument(max_hypotheses, "max_hypotheses", 1, 10000));
        options.min_score = finite_argument(min_score, "min_score");
        options.plausible_ratio = finite_argument(plausible_ratio, "plausible_ratio");
        options.max_plausible = static_cast<std::size_t>(integer_argument(max_plausible, "max_plausible", 1, 10000));
        const unsigned threads = jobs_argument(jobs);
        const std::vector<spectra::Spectrum> queries = spectrum_list(spectra_, "spectra");
        const std::optional<spectra::SpectralLibrary> lib = library_argument(library);
        std::vector<spectra::MassEstimate> estimates;
        {
          py::gil_scoped_release release;
          estimates = spectra::estimate_molecular_masses(queries, options, lib ? &*lib : nullptr, threads);
        }
        py::list out;
        for (const spectra::MassEstimate& e : estimates) {
          py::list hypotheses;
          for (const spectra::MassHypothesis& h : e.hypotheses)
            hypotheses.append(py::make_tuple(h.mass, h.score, h.evidence));
          out.append(py::make_tuple(hypotheses, e.plausible, e.used_library));
        }
        return out;
      },
      "spectra"_a, "library"_a, "max_hypotheses"_a, "min_score"_a, "plausible_ratio"_a, "max_plausible"_a, "jobs"_a,
      "[(hypotheses [(mass, score, evidence lines)], plausible masses, used_library)] per spectrum.");

  testing.def(
      "molecular_mass_features",
      [](py::handle spectra_, py::handle library, py::handle jobs) {
        const std::vector<spectra::Spectrum> queries = spectrum_list(spectra_, "spectra");
        const std::optional<spectra::SpectralLibrary> lib = library_argument(library);
        const unsigned threads = jobs_argument(jobs);
        std::vector<spectra::MassFeatures> features;
        {
          py::gil_scoped_release release;
          std::vector<spectra::LibraryMassEvidence> evidence;
          if (lib) evidence = spectra::library_mass_evidence(*lib, queries, threads);
          for (std::size_t i = 0; i < queries.size(); ++i) {
            features.push_back(spectra::molecular_mass_features(queries[i], lib ? &evidence[i] : nullptr));
          }
        }
        std::vector<std::string> names;
        for (std::string_view n : spectra::mass_feature_names(lib.has_value())) names.emplace_back(n);
        py::list rows;
        for (const spectra::MassFeatures& f : features) rows.append(py::make_tuple(f.masses, f.rows));
        return py::make_tuple(names, rows);
      },
      "spectra"_a, "library"_a = py::none(), "jobs"_a = py::none(),
      "(feature names, [(candidate masses, feature rows)]): the evidence the molecular-mass weights are fitted on.");

  testing.def(
      "mass_ranking_evidence",
      [](py::handle spectra_, py::handle library, bool library_evidence, py::handle masses, py::handle jobs) {
        const std::vector<spectra::Spectrum> queries = spectrum_list(spectra_, "spectra");
        const std::optional<spectra::SpectralLibrary> lib = library_argument(library);
        if (!lib) throw py::value_error("a library is needed");
        spectra::SearchOptions options;
        options.similarity = spectra::sqrt_cosine();
        options.similarity.measured_range = true;
        options.top = 0;
        options.threads = jobs_argument(jobs);
        spectra::MassEstimateOptions estimate;
        estimate.max_plausible = static_cast<std::size_t>(integer_argument(masses, "masses", 1, 1000));
        estimate.max_hypotheses = estimate.max_plausible;
        estimate.min_score = 0;
        estimate.plausible_ratio = 0;
        std::vector<identify::QueryResult> results;
        {
          py::gil_scoped_release release;
          identify::search_plausible_masses(*lib, queries, options, estimate, results, library_evidence);
        }
        std::vector<std::string> names;
        for (std::string_view n : identify::hypothesis_evidence_names()) names.emplace_back(n);
        py::list rows;
        for (const identify::QueryResult& r : results) {
          py::list hits;
          for (std::size_t k = 0; k < r.hits.size(); ++k) {
            const identify::HypothesisHit& x = r.hit_hypotheses[k];
            hits.append(py::make_tuple(r.hits[k].index, x.mass.mass,
                                       std::vector<double>(x.evidence.begin(), x.evidence.end())));
          }
          rows.append(hits);
        }
        return py::make_tuple(names, rows);
      },
      "spectra"_a, "library"_a, "library_evidence"_a = true, "masses"_a = 5, "jobs"_a = py::none(),
      "(evidence names, [[(library index, mass, evidence)] per spectrum]): every hit of each spectrum's first "
      "`masses` mass hypotheses (with the library's evidence or the peaks alone) with the evidence that ranks "
      "them; what the mass-ranking weights are fitted on.");
}

}  // namespace tessarin::bindings
