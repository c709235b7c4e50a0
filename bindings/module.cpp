#include <pybind11/pybind11.h>

#include "molecule/prepare_molecule.h"
#include "registry.h"
#include "tessarin/version.h"

PYBIND11_MODULE(_native, m) {
  m.doc() = "Native engine of tessarin: element data, formulas, orbital graphs, their LPI and spectra.";
  m.attr("__version__") = TESSARIN_VERSION;
  // Before any thread reads molecules: RDKit's error log, captured per thread for the reasons of failures.
  // RDKit's Python module sets its logs up when first imported, which would undo the routing afterwards.
  pybind11::module_::import("rdkit.rdBase");
  tessarin::molecule::route_rdkit_errors();
  pybind11::module_ testing = m.def_submodule("_testing", "Hooks for tests and benchmarks; not a public interface.");
  tessarin::bindings::register_errors(m);
  tessarin::bindings::register_core(m);
  tessarin::bindings::register_vif(m);
  tessarin::bindings::register_layout(m, testing);
  tessarin::bindings::register_ms(m, testing);
  tessarin::bindings::register_pubchem(m);
  tessarin::bindings::register_candidates(m);
  tessarin::bindings::register_analysis(m, testing);
  tessarin::bindings::register_validation(m);
  tessarin::bindings::register_batch(m);
  tessarin::bindings::register_spectra(m, testing);
  tessarin::bindings::register_molecular_mass(m, testing);
  tessarin::bindings::register_fingerprint_network(testing);
}
