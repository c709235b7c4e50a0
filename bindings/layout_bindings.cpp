// Atom layout, its refinement helpers and orbital-node directions.
//
// The in-place helpers work on the caller's own NumPy array: they accept only
// a writeable, aligned, C-contiguous float64 array of shape (n, 2) and refuse
// anything else with TypeError or ValueError, because a converted copy would
// take the changes and leave the caller's array as it was.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <GraphMol/ROMol.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "interrupt.h"
#include "layout/atom_layout.h"
#include "layout/node_placement.h"
#include "layout/refinement.h"
#include "mol_bridge.h"
#include "registry.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

using layout::Point2;

// An integer argument (int or NumPy integer; bool, float and str refused).
long long integer(py::handle value, const std::string& what) {
  return integer_argument(value, what, LLONG_MIN, LLONG_MAX);
}

int small_integer(py::handle value, const std::string& what) {
  return static_cast<int>(integer_argument(value, what, INT_MIN, INT_MAX));
}

py::iterable sequence_argument(py::handle obj, const std::string& what) {
  if (py::isinstance<py::str>(obj) || py::isinstance<py::bytes>(obj) || !py::isinstance<py::iterable>(obj)) {
    throw py::type_error(what + " must be a sequence, not " + type_name(obj));
  }
  return py::reinterpret_borrow<py::iterable>(obj);
}

// The caller's coordinate array, checked to be one that can be changed in place.
py::array caller_rows(py::handle obj, const char* function) {
  const std::string where = std::string(function) + "(): coords";
  if (!py::isinstance<py::array>(obj)) {
    throw py::type_error(where + " must be a NumPy float64 array of shape (n, 2), not " + type_name(obj));
  }
  py::array arr = py::reinterpret_borrow<py::array>(obj);
  if (!py::isinstance<py::array_t<double>>(obj)) {
    throw py::type_error(where + " has dtype " + std::string(py::str(arr.dtype())) +
                         "; it must be float64, because it is changed in place");
  }
  if (arr.ndim() != 2 || arr.shape(1) != 2) {
    throw py::value_error(where + " must have shape (n, 2), not " + std::string(py::str(obj.attr("shape"))));
  }
  if (!(arr.flags() & py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_) ||
      !(arr.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_)) {
    throw py::value_error(where +
                          " must be C-contiguous and aligned, because it is changed in place "
                          "(numpy.ascontiguousarray gives such a copy)");
  }
  if (!arr.writeable()) throw py::value_error(where + " is read-only, but it is changed in place");
  return arr;
}

std::vector<Point2> read_rows(const py::array& arr) {
  std::vector<Point2> rows(static_cast<std::size_t>(arr.shape(0)));
  const auto* data = static_cast<const double*>(arr.data());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = Point2{data[2 * i], data[2 * i + 1]};
  return rows;
}

// Rows of a caller's array for a helper that moves them: NaN or infinite
// coordinates are refused before anything moves, as _pca_align refuses them.
std::vector<Point2> finite_rows(const py::array& arr, const char* function) {
  std::vector<Point2> rows = read_rows(arr);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!std::isfinite(rows[i].x) || !std::isfinite(rows[i].y)) {
      throw py::value_error(std::string(function) + "(): coords row " + std::to_string(i) +
                            " is not finite; coordinates must be finite numbers");
    }
  }
  return rows;
}

void write_rows(py::array& arr, const std::vector<Point2>& rows) {
  auto* data = static_cast<double*>(arr.mutable_data());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    data[2 * i] = rows[i].x;
    data[2 * i + 1] = rows[i].y;
  }
}

py::array_t<double> to_numpy(const std::vector<Point2>& rows) {
  py::array_t<double> out({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(2)});
  write_rows(out, rows);
  return out;
}

py::list to_list(const std::vector<int>& values) {
  py::list out;
  for (int v : values) out.append(v);
  return out;
}

// Class members as row numbers; negative indices count from the end, as in NumPy.
std::vector<std::vector<int>> group_lists(py::handle groups, std::size_t n_rows) {
  if (py::isinstance<py::str>(groups) || !py::hasattr(groups, "values")) {
    throw py::type_error("groups must be a mapping of class -> list of atom indices, not " + type_name(groups));
  }
  std::vector<std::vector<int>> out;
  const long long n = static_cast<long long>(n_rows);
  for (py::handle members : groups.attr("values")()) {
    if (py::isinstance<py::str>(members) || !py::isinstance<py::iterable>(members)) {
      throw py::type_error("every value of groups must be a list of atom indices, not " + type_name(members));
    }
    std::vector<int>& rows = out.emplace_back();
    for (py::handle item : members) {
      long long index = integer(item, "an atom index in groups");
      if (index < -n || index >= n) {
        throw py::index_error("atom index " + std::to_string(index) + " in groups is out of range for coords with " +
                              std::to_string(n) + " rows");
      }
      rows.push_back(static_cast<int>(index < 0 ? index + n : index));
    }
  }
  return out;
}

// Class values only matter through equality, so any integers become dense ids.
std::vector<int> class_ids(py::handle ranks, std::size_t n_rows) {
  if (py::isinstance<py::str>(ranks) || !py::isinstance<py::iterable>(ranks)) {
    throw py::type_error("ranks must be a sequence of integers, not " + type_name(ranks));
  }
  std::vector<long long> values;
  for (py::handle item : ranks) values.push_back(integer(item, "every rank"));
  if (values.size() != n_rows) {
    throw py::value_error("ranks has " + std::to_string(values.size()) + " entries for coords with " +
                          std::to_string(n_rows) + " rows");
  }
  std::vector<long long> distinct = values;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<int> ids(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    ids[i] = static_cast<int>(std::lower_bound(distinct.begin(), distinct.end(), values[i]) - distinct.begin());
  }
  return ids;
}

layout::LayoutParams layout_params(py::handle n_iter, py::handle target_bond_len, py::handle repulsion_factor,
                                   py::handle k_attr, py::handle k_rep) {
  layout::LayoutParams p;
  const long long iterations = integer(n_iter, "n_iter");
  if (iterations < 0) throw py::value_error("n_iter must not be negative, got " + std::to_string(iterations));
  if (iterations > INT_MAX) throw py::value_error("n_iter is too large: " + std::to_string(iterations));
  p.n_iter = static_cast<int>(iterations);
  p.target_bond_len = finite_argument(target_bond_len, "target_bond_len");
  p.repulsion_factor = finite_argument(repulsion_factor, "repulsion_factor");
  p.k_attr = finite_argument(k_attr, "k_attr");
  p.k_rep = finite_argument(k_rep, "k_rep");
  layout::check_layout_params(p);
  return p;
}

// Upper bound on the nodes of one atom that the direction chooser accepts (an
// atom has at most nine); it keeps a mistaken argument from exhausting memory.
constexpr long long kMaxNodes = 1'000'000;

}  // namespace

void register_layout(py::module_& m, py::module_& testing) {
  m.def(
      "angle_diff",
      [](py::handle a, py::handle b) {
        const double x = finite_argument(a, "a");
        const double y = finite_argument(b, "b");
        if (!std::isfinite(x - y)) {
          throw py::value_error("a - b overflows (" + std::string(py::repr(a)) + " and " + std::string(py::repr(b)) +
                                "); the angles must be closer to each other");
        }
        return layout::angle_diff(x, y);
      },
      py::arg("a"), py::arg("b"), "Smaller angle between two directions (radians), in [0, pi].");

  m.def(
      "symmetry_classes", [](py::handle mol) { return to_list(layout::symmetry_classes(borrow_mol(mol))); },
      py::arg("mol"), "Canonical atom ranks without tie-breaking; one class per atom if RDKit cannot rank.");

  m.def(
      "radial_equalize",
      [](py::handle coords, py::handle groups) {
        py::array arr = caller_rows(coords, "_radial_equalize");
        std::vector<Point2> rows = finite_rows(arr, "_radial_equalize");
        const std::vector<std::vector<int>> lists = group_lists(groups, rows.size());
        layout::radial_equalize(rows, lists);
        write_rows(arr, rows);
      },
      py::arg("coords"), py::arg("groups"));

  m.def(
      "pca_align",
      [](py::handle coords) -> py::object {
        py::array arr = caller_rows(coords, "_pca_align");
        std::vector<Point2> rows = read_rows(arr);
        std::vector<Point2> rotated = layout::pca_align(rows);
        write_rows(arr, rows);  // the caller's array is centred
        if (rows.size() < 2) return py::reinterpret_borrow<py::object>(coords);
        return to_numpy(rotated);
      },
      py::arg("coords"));

  m.def(
      "enforce_mirror",
      [](py::handle coords, py::handle ranks, py::handle axis, py::handle eps) {
        py::array arr = caller_rows(coords, "_enforce_mirror");
        std::vector<Point2> rows = finite_rows(arr, "_enforce_mirror");
        const std::vector<int> ids = class_ids(ranks, rows.size());
        const long long ax = integer(axis, "axis");
        if (ax != 0 && ax != 1) {
          throw py::value_error("axis must be 0 (mirror x -> -x) or 1 (mirror y -> -y), not " + std::to_string(ax));
        }
        const double e = real_argument(eps, "eps");
        if (std::isnan(e)) throw py::value_error("eps must not be NaN");
        layout::enforce_mirror(rows, ids, static_cast<int>(ax), e, python_signal_check());
        write_rows(arr, rows);
        return py::reinterpret_borrow<py::object>(coords);
      },
      py::arg("coords"), py::arg("ranks"), py::arg("axis"), py::arg("eps"));

  m.def(
      "compute_atom_layout",
      [](py::handle mol, py::handle n_iter, py::handle target_bond_len, py::handle repulsion_factor, py::handle k_attr,
         py::handle k_rep) {
        RDKit::ROMol& molecule = borrow_mol(mol);
        const layout::LayoutParams p = layout_params(n_iter, target_bond_len, repulsion_factor, k_attr, k_rep);
        layout::AtomLayout result = layout::compute_atom_layout(molecule, p, nullptr, python_signal_check());
        return py::make_tuple(to_numpy(result.coords), to_list(result.ranks));
      },
      py::arg("mol"), py::arg("n_iter"), py::arg("target_bond_len"), py::arg("repulsion_factor"), py::arg("k_attr"),
      py::arg("k_rep"));

  testing.def(
      "refine_layout",
      [](DoubleArray arr, py::handle bonds, py::handle ranks, py::handle n_iter, py::handle target_bond_len,
         py::handle repulsion_factor, py::handle k_attr, py::handle k_rep, bool exhaustive) {
        if (arr.ndim() != 2 || arr.shape(1) != 2) throw py::value_error("coords must have shape (n, 2)");
        std::vector<Point2> rows = read_rows(arr);
        std::vector<layout::BondPair> pairs;
        for (py::handle bond : sequence_argument(bonds, "bonds")) {
          py::tuple t = py::tuple(sequence_argument(bond, "every bond"));
          if (t.size() != 2) throw py::value_error("every bond must be a (begin, end) pair");
          pairs.push_back({small_integer(t[0], "a bond's begin atom"), small_integer(t[1], "a bond's end atom")});
        }
        const std::vector<int> ids = class_ids(ranks, rows.size());
        const layout::LayoutParams p = layout_params(n_iter, target_bond_len, repulsion_factor, k_attr, k_rep);
        return to_numpy(layout::refine_layout(
            std::move(rows), pairs, ids, p,
            exhaustive ? layout::PairSearch::all_pairs : layout::PairSearch::neighbour_list, python_signal_check()));
      },
      py::arg("coords"), py::arg("bonds"), py::arg("ranks"), py::arg("n_iter") = 600, py::arg("target_bond_len") = 1.5,
      py::arg("repulsion_factor") = 1.2, py::arg("k_attr") = 0.06, py::arg("k_rep") = 0.05,
      py::arg("exhaustive") = false,
      "The layout steps after the depiction, from given starting coordinates (for benchmarks and checks).");

  m.def(
      "orbital_node_directions",
      [](py::handle n_nodes, py::handle target_angles) {
        const long long n = integer(n_nodes, "n_nodes");
        if (n < 1 || n > kMaxNodes) {
          throw py::value_error("n_nodes must be between 1 and " + std::to_string(kMaxNodes) + ", not " +
                                std::to_string(n));
        }
        if (n == 1) return py::list(py::make_tuple(0.0));  // a lone node points along +x, whatever the bonds
        std::vector<double> targets;
        for (py::handle a : sequence_argument(target_angles, "target_angles")) {
          if (targets.size() == static_cast<std::size_t>(n)) break;  // later targets are never used
          targets.push_back(finite_argument(a, "every target angle"));
        }
        const std::vector<double> angles = layout::orbital_node_directions(static_cast<int>(n), targets);
        py::list out;
        for (double a : angles) out.append(a);
        return out;
      },
      py::arg("n_nodes"), py::arg("target_angles"));
}

}  // namespace tessarin::bindings
