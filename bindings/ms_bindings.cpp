// Soft bonds and fragment prediction on a caller's graph, records and molecule.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <algorithm>
#include <string>
#include <unordered_map>

#include "convert.h"
#include "counts/inertia.h"
#include "graph_convert.h"
#include "interrupt.h"
#include "mol_bridge.h"
#include "ms/atom_set_cuts.h"
#include "ms/atom_set_softs.h"
#include "ms/fragments.h"
#include "ms/recursive_fragments.h"
#include "ms/soft_bonds.h"
#include "registry.h"
#include "to_python.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {
namespace {

const py::str kWeight("weight");

counts::CountMethod method_of(const std::string& name) {
  if (name == "auto") return counts::CountMethod::automatic;
  if (name == "dense") return counts::CountMethod::dense;
  if (name == "peeled") return counts::CountMethod::peeled;
  throw py::value_error("method must be \"auto\", \"dense\" or \"peeled\", not \"" + name + "\"");
}

ms::SoftTestPath path_of(const std::string& name) {
  if (name == "fast") return ms::SoftTestPath::fast;
  if (name == "plain") return ms::SoftTestPath::plain;
  throw py::value_error("path must be \"fast\" or \"plain\", not \"" + name + "\"");
}

// A number of generations: any integer, those beyond any real depth clamped.
int generations(py::handle value) {
  const std::optional<PythonInteger> g = python_integer(value);
  if (!g) throw py::type_error("max_generations must be an integer, not " + type_name(value));
  if (g->overflow != 0) return g->overflow > 0 ? 1 << 30 : -1;
  return static_cast<int>(std::clamp(g->value, -1LL, static_cast<long long>(1 << 30)));
}

// What predict_fragments reads of a soft bond record.
ms::SoftBond soft_bond_of(const RDKit::ROMol& mol, py::handle record) {
  ms::SoftBond s;
  s.atom_u = atom_index(mol, record_item(record, "atom_u"));
  s.atom_v = atom_index(mol, record_item(record, "atom_v"));
  s.sym_u = record_symbol(record, "sym_u");
  s.sym_v = record_symbol(record, "sym_v");
  s.order = record_order(record);
  return s;
}

// Atom indices of an atom set: any iterable of integers, no strings.
std::vector<long long> atom_set_of(py::handle atom_set, std::vector<py::object>* labels = nullptr) {
  if (py::isinstance<py::str>(atom_set) || py::isinstance<py::bytes>(atom_set)) {
    throw py::type_error("an atom set must be an iterable of atom indices, not a string");
  }
  std::vector<long long> out;
  for (py::handle atom : py::iter(atom_set)) {
    const std::optional<PythonInteger> x = python_integer(atom);
    if (!x) throw py::type_error("atom indices must be integers, not " + type_name(atom));
    if (x->overflow != 0) throw py::index_error("atom index " + std::string(py::str(x->as_int)) + " is out of range");
    out.push_back(x->value);
    if (labels != nullptr) labels->push_back(py::reinterpret_borrow<py::object>(atom));
  }
  return out;
}

// The nodes that atom_subgraphs lists for one atom, or nullopt when it has
// no entry (KeyError or IndexError on lookup).
std::optional<std::vector<int>> atom_nodes_of(const LabelledGraph& g, py::handle atom_subgraphs, py::handle atom) {
  PyObject* found = PyObject_GetItem(atom_subgraphs.ptr(), atom.ptr());
  if (found == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_KeyError) || PyErr_ExceptionMatches(PyExc_IndexError)) {
      PyErr_Clear();
      return std::nullopt;
    }
    throw py::error_already_set();
  }
  return graph_nodes_of(g, py::reinterpret_steal<py::object>(found));
}

std::vector<std::size_t> soft_bond_positions(py::handle graph, py::handle records, py::handle baseline, double tol,
                                             counts::CountMethod method) {
  const counts::LpiCounts counts = lpi_counts_of(baseline);
  const LabelledGraph g = read_graph(graph, kWeight);
  const auto candidates = record_edges(g, records);
  return ms::soft_edge_positions(g.graph, candidates, counts, tol, method, python_signal_check());
}

std::vector<std::size_t> atom_set_soft_positions(py::handle graph, py::handle atom_subgraphs, py::handle records,
                                                 py::handle atom_set, double tol, ms::SoftTestPath path) {
  const LabelledGraph g = read_graph(graph, kWeight);
  // Atoms of the set get ids 0..k-1 in first-met order; atoms outside it -1.
  std::vector<py::object> labels;
  const std::vector<long long> atoms = atom_set_of(atom_set, &labels);
  std::unordered_map<long long, int> id;
  ms::MoleculeOrbitals orbitals{g.graph, {}, {}};
  std::vector<int> members;
  for (std::size_t k = 0; k < atoms.size(); ++k) {
    const auto [it, added] = id.emplace(atoms[k], static_cast<int>(id.size()));
    members.push_back(it->second);
    if (!added) continue;
    std::optional<std::vector<int>> nodes = atom_nodes_of(g, atom_subgraphs, labels[k]);
    if (!nodes) throw py::key_error(std::string(py::repr(labels[k])));
    orbitals.atom_nodes.push_back(std::move(nodes));
  }
  auto atom_id = [&id](long long atom) {
    const auto it = id.find(atom);
    return it == id.end() ? -1 : it->second;
  };
  for (py::handle record : py::iter(records)) orbitals.bonds.push_back(orbital_bond(g, record, atom_id));
  ms::AtomSetSoftBonds engine(orbitals, tol, path);
  return engine.soft_bonds(members, python_signal_check());
}

std::vector<std::vector<int>> cut_atom_set(py::handle mol, py::handle atom_set, py::handle softs,
                                           bool ring_fragmentation, double min_mz) {
  const RDKit::ROMol& m_ = borrow_mol(mol);
  std::vector<int> atoms;
  for (long long a : atom_set_of(atom_set)) atoms.push_back(atom_index(m_, py::int_(a)));
  std::vector<ms::SoftBond> bonds;
  for (py::handle record : py::iter(softs)) {
    ms::SoftBond b;
    b.atom_u = record_integer(record, "atom_u");
    b.atom_v = record_integer(record, "atom_v");
    b.order = record_order(record);
    bonds.push_back(std::move(b));
  }
  return ms::cut_atom_set(m_, atoms, bonds, ring_fragmentation, min_mz, python_signal_check());
}

py::object predict_fragments_recursive(py::handle mol, py::handle graph, py::handle atom_subgraphs,
                                       py::handle chem_bonds, int max_generations, double min_mz,
                                       bool ring_fragmentation, ms::SoftTestPath path, bool with_stats) {
  const RDKit::ROMol& m_ = borrow_mol(mol);
  ms::RecursiveOptions options;
  options.max_generations = max_generations;
  options.min_mz = min_mz;
  options.ring_fragmentation = ring_fragmentation;
  options.path = path;
  ms::MoleculeOrbitals orbitals;
  if (max_generations > 0) {  // with no generation to cut, the inputs are never read
    const LabelledGraph g = read_graph(graph, kWeight);
    orbitals.graph = g.graph;
    const int n = static_cast<int>(m_.getNumAtoms());
    orbitals.atom_nodes.reserve(static_cast<std::size_t>(n));
    for (int a = 0; a < n; ++a) orbitals.atom_nodes.push_back(atom_nodes_of(g, atom_subgraphs, py::int_(a)));
    auto atom_id = [n](long long atom) { return atom >= 0 && atom < n ? static_cast<int>(atom) : -1; };
    for (py::handle record : py::iter(chem_bonds)) orbitals.bonds.push_back(orbital_bond(g, record, atom_id));
  }
  ms::SoftTestStats stats;
  const std::vector<ms::GenerationPeak> peaks =
      ms::predict_fragments_recursive(m_, orbitals, options, &stats, python_signal_check());
  if (!with_stats) return generation_peaks_to_python(peaks);
  py::dict tallies("atom_sets"_a = stats.atom_sets, "counts"_a = stats.counts, "isolated"_a = stats.isolated,
                   "rank_two"_a = stats.rank_two, "extended"_a = stats.extended, "peeled_away"_a = stats.peeled_away,
                   "memo_hits"_a = stats.memo_hits, "dense_counts"_a = stats.dense_counts,
                   "dense_solves"_a = stats.dense_blocks, "dense_nodes"_a = stats.dense_nodes,
                   "largest_dense"_a = stats.largest_dense);
  return py::make_tuple(generation_peaks_to_python(peaks), tallies);
}

}  // namespace

void register_ms(py::module_& m, py::module_& testing) {
  m.def(
      "soft_bond_positions",
      [](py::handle graph, py::handle records, py::handle baseline, py::handle tol) {
        return soft_bond_positions(graph, records, baseline, real_argument(tol, "tol"), counts::CountMethod::automatic);
      },
      "graph"_a, "records"_a, "baseline_lpi"_a, "tol"_a, "Positions of the records whose edge is soft.");
  m.def(
      "atom_set_soft_positions",
      [](py::handle graph, py::handle atom_subgraphs, py::handle records, py::handle atom_set, py::handle tol) {
        return atom_set_soft_positions(graph, atom_subgraphs, records, atom_set, real_argument(tol, "tol"),
                                       ms::SoftTestPath::fast);
      },
      "graph"_a, "atom_subgraphs"_a, "records"_a, "atom_set"_a, "tol"_a,
      "Positions of the records that are soft inside the atom set.");
  m.def(
      "cut_atom_set",
      [](py::handle mol, py::handle atom_set, py::handle softs, bool ring_fragmentation, py::handle min_mz) {
        return cut_atom_set(mol, atom_set, softs, ring_fragmentation, real_argument(min_mz, "min_mz"));
      },
      "mol"_a, "atom_set"_a, "softs"_a, "ring_fragmentation"_a, "min_mz"_a,
      "Pieces of the atom set cut at its soft bonds, each as sorted atom indices, in ascending order.");
  m.def(
      "predict_fragments_recursive",
      [](py::handle mol, py::handle graph, py::handle atom_subgraphs, py::handle chem_bonds, py::handle max_generations,
         py::handle min_mz, bool ring_fragmentation) {
        return predict_fragments_recursive(mol, graph, atom_subgraphs, chem_bonds, generations(max_generations),
                                           real_argument(min_mz, "min_mz"), ring_fragmentation, ms::SoftTestPath::fast,
                                           false);
      },
      "mol"_a, "H"_a, "atom_subgraphs"_a, "chem_bonds"_a, "max_generations"_a, "min_mz"_a, "ring_fragmentation"_a,
      "Peak map {m/z: {\"formula\", \"generation\"}} of the multi-generation fragmentation.");
  m.def(
      "predict_fragments",
      [](py::handle mol, py::handle soft_bonds, bool ring_fragmentation, py::handle min_ring_fragment_mz) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        const double floor = real_argument(min_ring_fragment_mz, "min_ring_fragment_mz");
        std::vector<ms::SoftBond> softs;
        for (py::handle record : py::iter(soft_bonds)) softs.push_back(soft_bond_of(m_, record));
        return fragment_entries_to_python(
            ms::predict_fragments(m_, softs, ring_fragmentation, floor, python_signal_check()));
      },
      "mol"_a, "soft_bonds"_a, "ring_fragmentation"_a, "min_ring_fragment_mz"_a);

  // The count paths side by side, for tests and benchmarks.
  testing.def(
      "soft_bond_positions",
      [](py::handle graph, py::handle records, py::handle baseline, double tol, const std::string& method) {
        return soft_bond_positions(graph, records, baseline, tol, method_of(method));
      },
      "graph"_a, "records"_a, "baseline_lpi"_a, "tol"_a, "method"_a,
      "soft_bond_positions with method \"auto\" (peeled where valid, else dense), \"dense\" or \"peeled\".");
  testing.def(
      "peeling_applies",
      [](py::handle graph, double tol) { return counts::peeling_applies(read_graph(graph, kWeight).graph, tol); },
      "graph"_a, "tol"_a, "Whether the peeled count may stand in for the dense one.");
  testing.def(
      "peeled_core",
      [](py::handle graph, double tol) {
        const LabelledGraph g = read_graph(graph, kWeight);
        counts::InertiaCounter counter;
        const counts::LpiCounts c = counter.count(g.graph, {}, tol, counts::CountMethod::peeled);
        const counts::PeelStats& s = counter.last_peel();
        return py::dict("n+"_a = c.n_plus, "n0"_a = c.n_zero, "n-"_a = c.n_minus, "nodes"_a = s.active_nodes,
                        "core_nodes"_a = s.core_nodes, "core_blocks"_a = s.core_blocks);
      },
      "graph"_a, "tol"_a, "Counts of the intact graph by peeling, with the size of its dense core.");
  testing.def(
      "atom_set_soft_positions",
      [](py::handle graph, py::handle atom_subgraphs, py::handle records, py::handle atom_set, double tol,
         const std::string& path) {
        return atom_set_soft_positions(graph, atom_subgraphs, records, atom_set, tol, path_of(path));
      },
      "graph"_a, "atom_subgraphs"_a, "records"_a, "atom_set"_a, "tol"_a, "path"_a,
      "atom_set_soft_positions with path \"fast\" (peeled, memoised cores) or \"plain\" (dense every count).");
  testing.def(
      "predict_fragments_recursive",
      [](py::handle mol, py::handle graph, py::handle atom_subgraphs, py::handle chem_bonds, int max_generations,
         double min_mz, bool ring_fragmentation, const std::string& path, bool stats) {
        return predict_fragments_recursive(mol, graph, atom_subgraphs, chem_bonds, max_generations, min_mz,
                                           ring_fragmentation, path_of(path), stats);
      },
      "mol"_a, "H"_a, "atom_subgraphs"_a, "chem_bonds"_a, "max_generations"_a, "min_mz"_a, "ring_fragmentation"_a,
      "path"_a = "fast", "stats"_a = false,
      "predict_fragments_recursive on the \"fast\" or \"plain\" path; with stats, (peaks, tallies of the counts).");
}

}  // namespace tessarin::bindings
