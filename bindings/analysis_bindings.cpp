// The VIF analysis: its result becomes the mapping a Python user reads.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <unordered_map>
#include <string>

#include "interrupt.h"
#include "python_stdout.h"
#include "registry.h"
#include "analysis/analysis.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

py::array_t<double> numpy_vector(const std::vector<double>& values) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

py::object networkx_graph(const vif::OrbitalGraph& g) {
  py::object graph = py::module_::import("networkx").attr("Graph")();
  const py::str sigma("sigma"), pi("pi"), central("Merkez"), terminal("U\u00e7");
  py::list nodes;
  for (std::size_t i = 0; i < g.nodes.size(); ++i) {
    const vif::OrbitalNode& n = g.nodes[i];
    nodes.append(py::make_tuple(i, py::dict("symbol"_a = n.symbol, "rol"_a = n.central ? central : terminal,
                                            "kind"_a = n.kind == vif::NodeKind::sigma ? sigma : pi)));
  }
  graph.attr("add_nodes_from")(nodes);
  py::list edges;
  for (const core::WeightedEdge& e : g.graph.edges) edges.append(py::make_tuple(e.u, e.v, py::dict("weight"_a = e.weight)));
  graph.attr("add_edges_from")(edges);
  return graph;
}

py::dict bond_record(const vif::BondRecord& r) {
  return py::dict("u_node"_a = r.u_node, "v_node"_a = r.v_node, "atom_u"_a = r.atom_u, "atom_v"_a = r.atom_v,
                  "sym_u"_a = r.sym_u, "sym_v"_a = r.sym_v, "order"_a = r.order, "k"_a = r.k);
}

py::dict fragment_entry(const ms::FragmentEntry& f) {
  py::object fragments = py::none();
  if (f.fragments) {
    py::list tuples;
    for (const ms::FragmentTuple& t : *f.fragments) tuples.append(py::make_tuple(t.formula, t.average_mass, t.mz));
    fragments = tuples;
  }
  return py::dict("bond"_a = f.bond, "split"_a = f.split, "mode"_a = ms::cut_mode_name(f.mode), "fragments"_a = fragments);
}

// The SMILES as UTF-8, or nothing for a str that has no UTF-8 form (lone
// surrogates): such a string cannot be SMILES.
std::optional<std::string> utf8_of(const py::str& text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

py::object analyse(const py::str& smiles_text, int n_iter, double target_bond_len, double radius_ratio,
                   double bond_kappa, bool verbose, bool ring_fragmentation, bool recursive_ms, int max_generations,
                   py::object timings) {
  analysis::Options options;
  options.n_iter = n_iter;
  options.target_bond_len = target_bond_len;
  options.radius_ratio = radius_ratio;
  options.bond_kappa = bond_kappa;
  options.ring_fragmentation = ring_fragmentation;
  options.recursive = recursive_ms;
  options.max_generations = max_generations;

  const std::optional<std::string> smiles = utf8_of(smiles_text);
  if (!smiles) return py::str(analysis::kUnreadableSmiles);
  std::optional<analysis::Result> result;
  const core::InterruptCheck signals = python_signal_check();
  const analysis::StopCheck stop = [&signals](std::string_view) { signals(); };
  if (verbose) {
    PythonStdout report;
    result = analysis::analyse_smiles(*smiles, options, stop, &report);
    report.flush();
  } else {
    result = analysis::analyse_smiles(*smiles, options, stop);
  }
  if (!result) return py::str(analysis::kUnreadableSmiles);
  const analysis::Result& a = *result;
  if (!timings.is_none()) {
    const analysis::StepTimes& t = a.times;
    timings["preparation"] = t.preparation;
    timings["depiction"] = t.depiction;
    timings["layout"] = t.layout;
    timings["graph"] = t.graph;
    timings["lpi"] = t.lpi;
    timings["soft_bonds"] = t.soft_bonds;
    timings["fragments"] = t.fragments;
    timings["recursion"] = t.recursion;
  }
  const vif::OrbitalGraph& og = a.graph.orbital;

  py::dict lpi("n+"_a = a.lpi.counts.n_plus, "n0"_a = a.lpi.counts.n_zero, "n-"_a = a.lpi.counts.n_minus,
               "eigenvalues"_a = numpy_vector(a.lpi.eigenvalues));
  py::list chem_bonds, soft_bonds;
  for (const vif::BondRecord& r : og.bonds) chem_bonds.append(bond_record(r));
  for (std::size_t i : a.soft_bonds) soft_bonds.append(chem_bonds[i]);

  // The views share the very entry dicts of `fragments`.
  py::list fragments;
  std::unordered_map<const ms::FragmentEntry*, py::object> entry_of;
  for (const ms::FragmentEntry& f : a.fragments) {
    py::dict entry = fragment_entry(f);
    fragments.append(entry);
    entry_of.emplace(&f, entry);
  }
  auto view = [&entry_of](const std::vector<const ms::FragmentEntry*>& entries) {
    py::list out;
    for (const ms::FragmentEntry* f : entries) out.append(entry_of.at(f));
    return out;
  };
  py::list single = view(a.single_cuts()), ringcut = view(a.ring_double_cuts()), ring_bonds = view(a.unsplit_ring_bonds());
  py::list real;
  for (py::handle e : single) real.append(e);
  for (py::handle e : ringcut) real.append(e);

  py::dict atom_subgraphs;
  for (std::size_t atom = 0; atom < og.atom_nodes.size(); ++atom) atom_subgraphs[py::int_(atom)] = py::cast(og.atom_nodes[atom]);
  py::dict pos;
  for (std::size_t node = 0; node < a.graph.positions.size(); ++node) {
    pos[py::int_(node)] = numpy_vector({a.graph.positions[node].x, a.graph.positions[node].y});
  }

  py::dict out;
  out["lpi"] = lpi;
  out["soft_bonds"] = soft_bonds;
  out["fragments"] = fragments;
  out["real_fragments"] = real;
  out["single_fragments"] = single;
  out["ringcut_fragments"] = ringcut;
  out["ring_soft_bonds"] = ring_bonds;
  if (a.recursive_peaks) {
    py::dict peaks;  // discovery order, the molecular ion first
    for (const ms::GenerationPeak& p : *a.recursive_peaks) peaks[py::int_(p.mz)] = py::dict("formula"_a = p.formula, "generation"_a = p.generation);
    out["recursive_peaks"] = peaks;
  } else {
    out["recursive_peaks"] = py::none();
  }
  out["graph"] = networkx_graph(og);
  out["chem_bonds"] = chem_bonds;
  out["atom_subgraphs"] = atom_subgraphs;
  out["pos"] = pos;
  out["mol_mass"] = a.mol_mass;
  out["mol_mass_avg"] = a.mol_mass_avg;
  return out;
}

}  // namespace

void register_analysis(py::module_& m) {
  m.def("analyse", &analyse, "smiles"_a, "n_iter"_a, "target_bond_len"_a, "radius_ratio"_a, "bond_kappa"_a,
        "verbose"_a, "ring_fragmentation"_a, "recursive_ms"_a, "max_generations"_a, "timings"_a = py::none(),
        "VIF analysis of a SMILES string: the result mapping, or the failure text when it does not parse. "
        "A dict given as `timings` receives the seconds of each step.");
}

}  // namespace tessarin::bindings
