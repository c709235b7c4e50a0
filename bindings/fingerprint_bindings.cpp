// The EI model's fingerprint network, for its fitting script
// (scripts/fit_fingerprint_model.py) and the tests: the fingerprint and the
// network's outputs exactly as the engine computes them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <memory>
#include <string>

#include "core/errors.h"
#include "molecule/prepare_molecule.h"
#include "prediction/fingerprint_network.h"
#include "registry.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

// The prepared molecule of `smiles` in the form the network reads.
std::unique_ptr<RDKit::ROMol> network_molecule(const std::string& smiles) {
  const std::unique_ptr<RDKit::ROMol> prepared = molecule::prepare_molecule(smiles);
  if (!prepared) throw InvalidInput("cannot read the SMILES '" + smiles + "'");
  return prediction::fingerprint_molecule(*prepared);
}

}  // namespace

void register_fingerprint_network(py::module_& testing) {
  testing.def(
      "fingerprint_counts",
      [](const std::string& smiles) { return prediction::fingerprint_counts(*network_molecule(smiles)); }, "smiles"_a,
      "Morgan count fingerprint the EI model's network reads: [(environment id, count)], ascending id.");
  testing.def(
      "fingerprint_network",
      [](const std::string& smiles, int nominal_mass) {
        const prediction::NetworkSpectrum s = prediction::fingerprint_network(*network_molecule(smiles), nominal_mass);
        return py::dict("mixed"_a = s.mixed, "forward"_a = s.forward, "reverse"_a = s.reverse);
      },
      "smiles"_a, "nominal_mass"_a, "The fingerprint network's outputs by m/z: {'mixed', 'forward', 'reverse'}.");
  testing.def(
      "fingerprint_network_shape",
      [] {
        const prediction::FingerprintNetworkShape s = prediction::fingerprint_network_shape();
        return py::dict("radius"_a = s.radius, "inputs"_a = s.inputs, "hidden"_a = s.hidden, "members"_a = s.members,
                        "span"_a = s.span, "above_mass"_a = s.above_mass,
                        "share"_a = prediction::fingerprint_network_share(),
                        "exponent"_a = prediction::fingerprint_network_exponent());
      },
      "Sizes of the fitted fingerprint network, and its share of the combined intensities.");
}

}  // namespace tessarin::bindings
