// Candidate structures from a local file: the index by nominal mass and
// formula, built without the GIL and stopped by Ctrl-C.
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

#include "convert.h"
#include "identify/candidate_index.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::tuple candidate_to_python(const identify::Candidate& c) {
  return py::make_tuple(lenient_text(c.smiles), lenient_text(c.name), lenient_text(c.formula), c.nominal_mass, c.line,
                        lenient_text(c.id));
}

std::unique_ptr<identify::CandidateIndex> open_index(py::handle path, bool use_saved) {
  const std::string file = path_argument(path, "path");
  bool interrupted = false;
  // Asked every few hundred molecules, on the thread that reads.
  auto keep_going = [&interrupted] {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) interrupted = true;
    return !interrupted;
  };
  std::unique_ptr<identify::CandidateIndex> index;
  try {
    py::gil_scoped_release nogil;
    index = std::make_unique<identify::CandidateIndex>(file, use_saved, keep_going);
  } catch (const identify::IndexingStopped&) {
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw py::error_already_set();
  }
  return index;
}

py::list find(const identify::CandidateIndex& index, py::handle mass, py::handle formula) {
  std::optional<int> nominal_mass;
  std::optional<std::string> wanted;
  if (!mass.is_none()) nominal_mass = static_cast<int>(integer_argument(mass, "mass", 0, 1'000'000'000));
  if (!formula.is_none()) {
    if (!py::isinstance<py::str>(formula)) throw py::type_error("formula must be a str, not " + type_name(formula));
    wanted = utf8_text(formula, "formula");
  }
  py::list out;
  for (const identify::Candidate& c : index.find(nominal_mass, wanted)) out.append(candidate_to_python(c));
  return out;
}

}  // namespace

void register_candidates(py::module_& m) {
  py::class_<identify::CandidateIndex>(m, "CandidateIndex",
                                       "The molecules of a file indexed by nominal mass and formula.")
      .def(py::init(&open_index), py::arg("path"), py::arg("use_saved"))
      .def("find", &find, py::arg("mass"), py::arg("formula"),
           "(SMILES, name, formula, nominal mass, line, id) of the molecules of this mass and/or formula, in file "
           "order.")
      .def_property_readonly("size", &identify::CandidateIndex::size)
      .def_property_readonly("from_saved", &identify::CandidateIndex::from_saved)
      .def_property_readonly("saved", &identify::CandidateIndex::saved)
      .def_property_readonly("failed", [](const identify::CandidateIndex& index) {
        py::list out;
        for (const identify::FailedMolecule& f : index.failed()) {
          out.append(
              py::make_tuple(f.position, f.line, lenient_text(f.name), lenient_text(f.smiles), lenient_text(f.reason)));
        }
        return out;
      });
  m.def("saved_index_path", &identify::saved_index_path, py::arg("path"));
}

}  // namespace tessarin::bindings
