// The VIF analysis: its result becomes the mapping a Python user reads.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <optional>
#include <string>
#include <unordered_map>

#include <GraphMol/ROMol.h>

#include "analysis/analysis.h"
#include "convert.h"
#include "interrupt.h"
#include "python_stdout.h"
#include "registry.h"
#include "run/depiction_worker.h"
#include "to_python.h"
#include "worker_command.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

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
  for (const core::WeightedEdge& e : g.graph.edges) {
    edges.append(py::make_tuple(e.u, e.v, py::dict("weight"_a = e.weight)));
  }
  graph.attr("add_edges_from")(edges);
  return graph;
}

// The 14-key result map of an analysis.
py::dict result_to_python(const analysis::Result& a) {
  const vif::OrbitalGraph& og = a.graph.orbital;
  py::list chem_bonds, soft_bonds;
  for (const vif::BondRecord& r : og.bonds) chem_bonds.append(bond_record_to_python(r));
  for (std::size_t i : a.soft_bonds) soft_bonds.append(chem_bonds[i]);

  // The views hold the very entry dicts of `fragments`.
  py::list fragments;
  std::unordered_map<const ms::FragmentEntry*, py::object> entry_of;
  for (const ms::FragmentEntry& f : a.fragments) {
    py::dict entry = fragment_entry_to_python(f);
    fragments.append(entry);
    entry_of.emplace(&f, entry);
  }
  auto view = [&entry_of](const std::vector<const ms::FragmentEntry*>& entries) {
    py::list out;
    for (const ms::FragmentEntry* f : entries) out.append(entry_of.at(f));
    return out;
  };
  const py::list single = view(a.single_cuts());
  const py::list ringcut = view(a.ring_double_cuts());
  py::list real;
  for (py::handle e : single) real.append(e);
  for (py::handle e : ringcut) real.append(e);

  py::dict atom_subgraphs;
  for (std::size_t atom = 0; atom < og.atom_nodes.size(); ++atom) {
    atom_subgraphs[py::int_(atom)] = py::cast(og.atom_nodes[atom]);
  }
  py::dict pos;
  for (std::size_t node = 0; node < a.graph.positions.size(); ++node) {
    pos[py::int_(node)] = numpy_vector({a.graph.positions[node].x, a.graph.positions[node].y});
  }

  py::dict out;
  out["lpi"] = lpi_to_python(a.lpi);
  out["soft_bonds"] = soft_bonds;
  out["fragments"] = fragments;
  out["real_fragments"] = real;
  out["single_fragments"] = single;
  out["ringcut_fragments"] = ringcut;
  out["ring_soft_bonds"] = view(a.unsplit_ring_bonds());
  out["recursive_peaks"] = a.recursive_peaks ? py::object(generation_peaks_to_python(*a.recursive_peaks)) : py::none();
  out["graph"] = networkx_graph(og);
  out["chem_bonds"] = chem_bonds;
  out["atom_subgraphs"] = atom_subgraphs;
  out["pos"] = pos;
  out["mol_mass"] = a.mol_mass;
  out["mol_mass_avg"] = a.mol_mass_avg;
  return out;
}

py::dict times_to_python(const analysis::StepTimes& t) {
  return py::dict("preparation"_a = t.preparation, "depiction"_a = t.depiction, "layout"_a = t.layout,
                  "graph"_a = t.graph, "lpi"_a = t.lpi, "soft_bonds"_a = t.soft_bonds, "fragments"_a = t.fragments,
                  "recursion"_a = t.recursion);
}

// VIF's arguments, checked; `smiles` nullopt for a str without a UTF-8 form
// (it cannot be SMILES).
struct Request {
  std::optional<std::string> smiles;
  analysis::Options options;
  bool verbose = true;
};

Request request_of(py::handle smiles, py::handle n_iter, py::handle target_bond_len, py::handle radius_ratio,
                   py::handle bond_kappa, bool verbose, bool ring_fragmentation, bool recursive_ms,
                   py::handle max_generations) {
  if (!py::isinstance<py::str>(smiles)) throw py::type_error("VIF() expects a SMILES string, not " + type_name(smiles));
  Request r;
  r.smiles = utf8(smiles, "smiles");
  r.options.n_iter = static_cast<int>(integer_argument(n_iter, "VIF() argument n_iter", -INT_MAX, INT_MAX));
  r.options.target_bond_len = real_argument(target_bond_len, "VIF() argument target_bond_len");
  r.options.radius_ratio = real_argument(radius_ratio, "VIF() argument radius_ratio");
  r.options.bond_kappa = real_argument(bond_kappa, "VIF() argument bond_kappa");
  r.options.ring_fragmentation = ring_fragmentation;
  r.options.recursive = recursive_ms;
  r.options.max_generations =
      static_cast<int>(integer_argument(max_generations, "VIF() argument max_generations", -INT_MAX, INT_MAX));
  r.verbose = verbose;
  return r;
}

// Molecules of this many atoms (hydrogens included) and more are depicted in a
// worker process, which Ctrl-C stops at once: CoordGen runs without a stop
// check, for about a quarter of a second at this size and for minutes at a
// few thousand atoms. Smaller ones are depicted here, sparing the process's
// start. Either way the coordinates are the same.
constexpr unsigned kWorkerDepictionAtoms = 300;

std::vector<layout::Point2> depict(RDKit::ROMol& mol) {
  if (mol.getNumAtoms() < kWorkerDepictionAtoms) return layout::depict_2d(mol);
  const run::WorkerCommand command = worker_command();
  py::gil_scoped_release let_others_run;
  return run::depict_in_worker(mol, command, [] {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  });
}

// The analysis with the report on Python's sys.stdout; nothing when the
// SMILES does not parse. Ctrl-C stops it, within a few milliseconds whatever
// the step (a large molecule's depiction runs in a worker process).
std::optional<analysis::Result> run(const Request& r) {
  if (!r.smiles) return std::nullopt;
  const core::InterruptCheck signals = python_signal_check();
  const analysis::StopCheck stop = [&signals](std::string_view) { signals(); };
  if (!r.verbose) return analysis::analyse_smiles(*r.smiles, r.options, stop, nullptr, depict);
  PythonStdout report;
  std::optional<analysis::Result> result = analysis::analyse_smiles(*r.smiles, r.options, stop, &report, depict);
  report.flush();
  return result;
}

}  // namespace

void register_analysis(py::module_& m, py::module_& testing) {
  m.def(
      "analyse",
      [](py::handle smiles, py::handle n_iter, py::handle target_bond_len, py::handle radius_ratio,
         py::handle bond_kappa, bool verbose, bool ring_fragmentation, bool recursive_ms,
         py::handle max_generations) -> py::object {
        const Request r = request_of(smiles, n_iter, target_bond_len, radius_ratio, bond_kappa, verbose,
                                     ring_fragmentation, recursive_ms, max_generations);
        const std::optional<analysis::Result> result = run(r);
        if (!result) return py::str(analysis::kUnreadableSmiles);
        return result_to_python(*result);
      },
      "smiles"_a, "n_iter"_a, "target_bond_len"_a, "radius_ratio"_a, "bond_kappa"_a, "verbose"_a,
      "ring_fragmentation"_a, "recursive_ms"_a, "max_generations"_a,
      "VIF analysis of a SMILES string: the 14-key result map, or the failure text when it does not parse.");

  testing.def(
      "analyse_timed",
      [](py::handle smiles, py::handle n_iter, py::handle target_bond_len, py::handle radius_ratio,
         py::handle bond_kappa, bool verbose, bool ring_fragmentation, bool recursive_ms,
         py::handle max_generations) -> py::object {
        const Request r = request_of(smiles, n_iter, target_bond_len, radius_ratio, bond_kappa, verbose,
                                     ring_fragmentation, recursive_ms, max_generations);
        const std::optional<analysis::Result> result = run(r);
        if (!result) return py::str(analysis::kUnreadableSmiles);
        return py::make_tuple(result_to_python(*result), times_to_python(result->times));
      },
      "smiles"_a, "n_iter"_a = 600, "target_bond_len"_a = 1.5, "radius_ratio"_a = 0.23, "bond_kappa"_a = 0.9,
      "verbose"_a = false, "ring_fragmentation"_a = false, "recursive_ms"_a = false, "max_generations"_a = 2,
      "analyse() and the seconds of each step: (result, {step: seconds}).");
}

}  // namespace tessarin::bindings
