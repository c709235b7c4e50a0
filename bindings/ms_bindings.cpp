// Soft bonds and fragment prediction.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <GraphMol/ROMol.h>

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

#include "convert.h"
#include "interrupt.h"
#include "mol_bridge.h"
#include "ms/atom_set_cuts.h"
#include "ms/atom_set_softs.h"
#include "ms/fragments.h"
#include "counts/inertia.h"
#include "ms/recursive_fragments.h"
#include "ms/soft_bonds.h"
#include "ms_graph.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

counts::CountMethod method_of(const std::string& name) {
  if (name == "auto") return counts::CountMethod::automatic;
  if (name == "dense") return counts::CountMethod::dense;
  if (name == "peeled") return counts::CountMethod::peeled;
  throw py::value_error("method must be \"auto\", \"dense\" or \"peeled\", not \"" + name + "\"");
}

py::object item_or_null(py::handle mapping, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(mapping.ptr(), k.ptr());
  if (value == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_KeyError)) {
      PyErr_Clear();
      return py::object();
    }
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(value);
}

py::object item(py::handle mapping, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(mapping.ptr(), k.ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

std::string symbol_of(py::handle record, const char* key) {
  py::object value = item(record, key);
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string("bond record \"") + key + "\" must be an element symbol string, not " + type_name(value));
  }
  return value.cast<std::string>();
}

ms::SoftBond soft_ref_of(const RDKit::ROMol& mol, py::handle record) {
  ms::SoftBond s;
  s.atom_u = atom_index(mol, item(record, "atom_u"));
  s.atom_v = atom_index(mol, item(record, "atom_v"));
  s.sym_u = symbol_of(record, "sym_u");
  s.sym_v = symbol_of(record, "sym_v");
  py::object order = item_or_null(record, "order");
  if (order) {
    const std::optional<PythonInteger> o = python_integer(order);
    if (!o) throw py::type_error("bond record \"order\" must be an integer, not " + type_name(order));
    // Only "2 or more" matters, so orders far outside any real bond are clamped.
    const long long value = o->overflow != 0 ? o->overflow * 1'000'000LL : o->value;
    s.order = static_cast<int>(std::clamp(value, -1'000'000LL, 1'000'000LL));
  }
  return s;
}

py::list entries_to_python(const std::vector<ms::FragmentEntry>& entries) {
  py::list out;
  for (const ms::FragmentEntry& e : entries) {
    py::dict d;
    d["bond"] = e.bond;
    d["split"] = py::bool_(e.split);
    d["mode"] = ms::cut_mode_name(e.mode);
    if (e.fragments) {
      py::list frags;
      for (const ms::FragmentTuple& f : *e.fragments) frags.append(py::make_tuple(f.formula, f.average_mass, f.mz));
      d["fragments"] = frags;
    } else {
      d["fragments"] = py::none();
    }
    out.append(d);
  }
  return out;
}

ms::SoftTestPath path_of(const std::string& name) {
  if (name == "fast") return ms::SoftTestPath::fast;
  if (name == "plain") return ms::SoftTestPath::plain;
  throw py::value_error("path must be \"fast\" or \"plain\", not \"" + name + "\"");
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

py::dict peaks_to_python(const std::vector<ms::GenerationPeak>& peaks) {
  py::dict out;
  for (const ms::GenerationPeak& p : peaks) {
    py::dict entry;
    entry["formula"] = p.formula;
    entry["generation"] = p.generation;
    out[py::int_(p.mz)] = entry;
  }
  return out;
}

py::dict stats_to_python(const ms::SoftTestStats& s) {
  py::dict out;
  out["atom_sets"] = s.atom_sets;
  out["counts"] = s.counts;
  out["isolated"] = s.isolated;
  out["rank_two"] = s.rank_two;
  out["extended"] = s.extended;
  out["peeled_away"] = s.peeled_away;
  out["memo_hits"] = s.memo_hits;
  out["dense_counts"] = s.dense_counts;
  out["dense_solves"] = s.dense_blocks;
  out["dense_nodes"] = s.dense_nodes;
  out["largest_dense"] = s.largest_dense;
  return out;
}

}  // namespace

void register_ms(py::module_& m) {
  m.def(
      "soft_bond_positions",
      [](py::handle graph, py::handle records, py::handle baseline, double tol, const std::string& method) {
        const counts::CountMethod how = method_of(method);
        const counts::LpiCounts counts = lpi_counts_of(baseline);
        const LabelledGraph g = labelled_graph(graph);
        const auto candidates = record_edges(g, records);
        return ms::soft_edge_positions(g.graph, candidates, counts, tol, how, python_signal_check());
      },
      py::arg("graph"), py::arg("records"), py::arg("baseline_lpi"), py::arg("tol"), py::arg("method") = "auto",
      "Positions of the records whose edge is soft. method: \"auto\" (peeled where valid, else dense), "
      "\"dense\" or \"peeled\".");
  m.def(
      "peeling_applies",
      [](py::handle graph, double tol) { return counts::peeling_applies(labelled_graph(graph).graph, tol); },
      py::arg("graph"), py::arg("tol"), "Whether the peeled count may stand in for the dense one.");
  m.def(
      "peeled_core",
      [](py::handle graph, double tol) {
        const LabelledGraph g = labelled_graph(graph);
        counts::InertiaCounter counter;
        const counts::LpiCounts c = counter.count(g.graph, {}, tol, counts::CountMethod::peeled);
        const counts::PeelStats& s = counter.last_peel();
        py::dict out;
        out["n+"] = c.n_plus;
        out["n0"] = c.n_zero;
        out["n-"] = c.n_minus;
        out["nodes"] = s.active_nodes;
        out["core_nodes"] = s.core_nodes;
        out["core_blocks"] = s.core_blocks;
        return out;
      },
      py::arg("graph"), py::arg("tol"), "Counts of the intact graph by peeling, with the size of its dense core.");
  m.def(
      "atom_set_soft_positions",
      [](py::handle graph, py::handle atom_subgraphs, py::handle records, py::handle atom_set, double tol,
         const std::string& path) {
        const ms::SoftTestPath how = path_of(path);
        const LabelledGraph g = labelled_graph(graph);
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
        ms::AtomSetSoftBonds engine(orbitals, tol, how);
        return engine.soft_bonds(members, python_signal_check());
      },
      py::arg("graph"), py::arg("atom_subgraphs"), py::arg("records"), py::arg("atom_set"), py::arg("tol"),
      py::arg("path") = "fast",
      "Positions of the records that are soft inside the atom set. path: \"fast\" (peeled, memoised cores) "
      "or \"plain\" (dense eigenvalues for every count).");
  m.def(
      "cut_atom_set",
      [](py::handle mol, py::handle atom_set, py::handle softs, bool ring_fragmentation, double min_mz) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        const std::vector<long long> given = atom_set_of(atom_set);
        std::vector<int> atoms;
        atoms.reserve(given.size());
        for (long long a : given) atoms.push_back(atom_index(m_, py::int_(a)));
        std::vector<ms::SoftBond> pairs;
        for (py::handle record : py::iter(softs)) {
          ms::SoftBond p;
          p.atom_u = record_integer(record, "atom_u");
          p.atom_v = record_integer(record, "atom_v");
          p.order = record_order(record);
          pairs.push_back(p);
        }
        return ms::cut_atom_set(m_, atoms, pairs, ring_fragmentation, min_mz, python_signal_check());
      },
      py::arg("mol"), py::arg("atom_set"), py::arg("softs"), py::arg("ring_fragmentation"), py::arg("min_mz"),
      "Pieces of the atom set cut at its soft bonds, each as sorted atom indices, in ascending order.");
  m.def(
      "predict_fragments_recursive",
      [](py::handle mol, py::handle graph, py::handle atom_subgraphs, py::handle chem_bonds, int max_generations,
         double min_mz, bool ring_fragmentation, const std::string& path, bool with_stats) -> py::object {
        const ms::SoftTestPath how = path_of(path);
        const RDKit::ROMol& m_ = borrow_mol(mol);
        ms::RecursiveOptions options;
        options.max_generations = max_generations;
        options.min_mz = min_mz;
        options.ring_fragmentation = ring_fragmentation;
        options.path = how;
        ms::MoleculeOrbitals orbitals;
        if (max_generations > 0) {  // with no generation to cut, the inputs are never read
          const LabelledGraph g = labelled_graph(graph);
          orbitals.graph = g.graph;
          const int n = static_cast<int>(m_.getNumAtoms());
          orbitals.atom_nodes.reserve(static_cast<std::size_t>(n));
          for (int a = 0; a < n; ++a) orbitals.atom_nodes.push_back(atom_nodes_of(g, atom_subgraphs, py::int_(a)));
          auto atom_id = [n](long long atom) { return atom >= 0 && atom < n ? static_cast<int>(atom) : -1; };
          for (py::handle record : py::iter(chem_bonds)) orbitals.bonds.push_back(orbital_bond(g, record, atom_id));
        }
        ms::SoftTestStats stats;
        const std::vector<ms::GenerationPeak> peaks = ms::predict_fragments_recursive(m_, orbitals, options, &stats, python_signal_check());
        if (!with_stats) return peaks_to_python(peaks);
        return py::make_tuple(peaks_to_python(peaks), stats_to_python(stats));
      },
      py::arg("mol"), py::arg("H"), py::arg("atom_subgraphs"), py::arg("chem_bonds"), py::arg("max_generations"),
      py::arg("min_mz"), py::arg("ring_fragmentation"), py::arg("path") = "fast", py::arg("stats") = false,
      "Peak map {m/z: {\"formula\", \"generation\"}} of the multi-generation fragmentation; with stats, "
      "also the tallies of the LPI counts.");
  m.def(
      "predict_fragments",
      [](py::handle mol, py::handle soft_bonds, bool ring_fragmentation, double min_ring_fragment_mz) {
        const RDKit::ROMol& m_ = borrow_mol(mol);
        std::vector<ms::SoftBond> softs;
        for (py::handle record : py::iter(soft_bonds)) softs.push_back(soft_ref_of(m_, record));
        return entries_to_python(
            ms::predict_fragments(m_, softs, ring_fragmentation, min_ring_fragment_mz, python_signal_check()));
      },
      py::arg("mol"), py::arg("soft_bonds"), py::arg("ring_fragmentation"), py::arg("min_ring_fragment_mz"));
}

}  // namespace tessarin::bindings
