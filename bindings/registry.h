// One registration function per subsystem; module.cpp calls them all. Hooks
// for tests and benchmarks (the count paths side by side, step timings) go
// to the private submodule `testing` (tessarin._native._testing).
#pragma once

#include <pybind11/pybind11.h>

namespace tessarin::bindings {

void register_errors(pybind11::module_& m);
void register_core(pybind11::module_& m);
void register_vif(pybind11::module_& m);
void register_layout(pybind11::module_& m, pybind11::module_& testing);
void register_ms(pybind11::module_& m, pybind11::module_& testing);
void register_pubchem(pybind11::module_& m);
void register_candidates(pybind11::module_& m);
void register_analysis(pybind11::module_& m, pybind11::module_& testing);
void register_validation(pybind11::module_& m);
void register_batch(pybind11::module_& m);
void register_spectra(pybind11::module_& m, pybind11::module_& testing);
void register_molecular_mass(pybind11::module_& m, pybind11::module_& testing);
void register_fingerprint_network(pybind11::module_& testing);

}  // namespace tessarin::bindings
