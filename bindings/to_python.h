// The engine's results as the Python values a user reads: NumPy arrays,
// and the mappings and lists the result maps are made of.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <nlohmann/json.hpp>

#include <vector>

#include "counts/lpi.h"
#include "ms/fragments.h"
#include "ms/recursive_fragments.h"
#include "spectra/spectrum.h"
#include "vif/orbital_graph.h"

namespace tessarin::bindings {

pybind11::array_t<double> numpy_vector(const std::vector<double>& values);

// {"n+", "n0", "n-", "eigenvalues" (ascending, a NumPy array)}
pybind11::dict lpi_to_python(const counts::Lpi& lpi);

// {"u_node", "v_node", "atom_u", "atom_v", "sym_u", "sym_v", "order", "k"}
pybind11::dict bond_record_to_python(const vif::BondRecord& record);

// {"bond", "split", "mode", "fragments": [(formula, average mass, m/z), ...] or None}
pybind11::dict fragment_entry_to_python(const ms::FragmentEntry& entry);
pybind11::list fragment_entries_to_python(const std::vector<ms::FragmentEntry>& entries);

// {m/z: {"formula", "generation"}} in discovery order.
pybind11::dict generation_peaks_to_python(const std::vector<ms::GenerationPeak>& peaks);

// A JSON value (a library record) as plain Python values; strings that are
// not UTF-8 (names read from files in other encodings) get U+FFFD.
pybind11::object json_to_python(const nlohmann::ordered_json& value);

// A spectrum's parts, which tessarin.Spectrum wraps: (m/z, intensities) as
// read-only NumPy arrays, annotations (one entry per peak: None, or the
// formulas joined by ", "), metadata as a dict of str.
pybind11::tuple spectrum_to_python(const spectra::Spectrum& spectrum);

}  // namespace tessarin::bindings
