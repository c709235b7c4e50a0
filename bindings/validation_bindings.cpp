// Reference tables and the validation suite.
#include <pybind11/pybind11.h>

#include <deque>
#include <string>
#include <vector>

#include "python_stdout.h"
#include "registry.h"
#include "validation/reference_tables.h"
#include "validation/validation_suite.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::str text(std::string_view s) { return py::str(s.data(), s.size()); }

py::dict reference_tables() {
  py::list biomolecules, halogen, lpi, ms_rows;
  for (std::string_view name : validation::kBiomolecules) biomolecules.append(text(name));
  for (const auto& row : validation::kHalogenTests)
    halogen.append(py::make_tuple(text(row.label), text(row.smiles), text(row.expectation)));
  for (const auto& row : validation::kLpiReferences)
    lpi.append(py::make_tuple(text(row.name), text(row.smiles),
                              py::make_tuple(row.expected[0], row.expected[1], row.expected[2])));
  for (const auto& row : validation::kMsReferences)
    ms_rows.append(py::make_tuple(text(row.name), text(row.smiles), row.mz));
  py::dict out;
  out["BIOMOLECULES"] = biomolecules;
  out["HALOGEN_TESTS"] = halogen;
  out["LPI_REFERENCES"] = lpi;
  out["MS_REFERENCES"] = ms_rows;
  return out;
}

bool validate(py::iterable lpi_rows, py::iterable ms_rows, bool verbose) {
  std::deque<std::string> storage;  // keeps the texts the rows point into alive
  auto keep = [&storage](py::handle s) -> std::string_view { return storage.emplace_back(py::str(s)); };
  std::vector<validation::LpiReference> lpi;
  for (py::handle row : lpi_rows) {
    py::sequence r = py::reinterpret_borrow<py::sequence>(row);
    if (py::len(r) != 3) throw py::value_error("an LPI reference row is (name, smiles, (n+, n0, n-))");
    py::sequence t = r[2];
    if (py::len(t) != 3) throw py::value_error("an expected LPI is a triple (n+, n0, n-)");
    lpi.push_back({keep(r[0]), keep(r[1]), {t[0].cast<int>(), t[1].cast<int>(), t[2].cast<int>()}});
  }
  std::vector<validation::MsReference> ms;
  for (py::handle row : ms_rows) {
    py::sequence r = py::reinterpret_borrow<py::sequence>(row);
    if (py::len(r) != 3) throw py::value_error("an MS reference row is (name, smiles, m/z)");
    ms.push_back({keep(r[0]), keep(r[1]), r[2].cast<int>()});
  }
  PythonStdout out;
  const bool verdict = validation::run_validation(lpi, ms, verbose, out);
  out.flush();
  return verdict;
}

}  // namespace

void register_validation(py::module_& m) {
  m.def("reference_tables", &reference_tables, "The shipped reference tables as Python lists of tuples.");
  m.def("validate", &validate, py::arg("lpi_rows"), py::arg("ms_rows"), py::arg("verbose"),
        "Run the validation suite over the given rows; True when every row passes.");
}

}  // namespace tessarin::bindings
