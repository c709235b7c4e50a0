#include "ms_graph.h"

#include <algorithm>
#include <string>

#include "convert.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

py::object item(py::handle mapping, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(mapping.ptr(), k.ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

int index_in(py::handle index, py::handle label, bool& found) {
  PyObject* i = PyDict_GetItemWithError(index.ptr(), label.ptr());  // TypeError when unhashable
  if (i == nullptr) {
    if (PyErr_Occurred()) throw py::error_already_set();
    found = false;
    return -1;
  }
  found = true;
  return static_cast<int>(PyLong_AsLong(i));
}

double weight_of(py::handle data) {
  static const py::str key("weight");
  py::object value;
  if (PyDict_Check(data.ptr())) {
    PyObject* found = PyDict_GetItemWithError(data.ptr(), key.ptr());
    if (found == nullptr) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return 1.0;
    }
    value = py::reinterpret_borrow<py::object>(found);
  } else {
    if (!data.attr("__contains__")(key).cast<bool>()) return 1.0;
    value = data[key];
  }
  // float() semantics, as NumPy applies when it stores the weight.
  py::object as_float = py::reinterpret_steal<py::object>(PyNumber_Float(value.ptr()));
  if (!as_float) throw py::error_already_set();
  return PyFloat_AS_DOUBLE(as_float.ptr());
}

// (key, value) pairs of a mapping; plain dicts without Python-level calls.
template <typename Fn>
void for_each_item(py::handle mapping, Fn&& fn) {
  if (PyDict_CheckExact(mapping.ptr())) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(mapping.ptr(), &pos, &key, &value)) fn(py::handle(key), py::handle(value));
    return;
  }
  for (py::handle key : py::iter(mapping)) fn(key, py::object(mapping[key]));
}

}  // namespace

LabelledGraph labelled_graph(py::handle graph) {
  if (!py::hasattr(graph, "adj") || !py::hasattr(graph, "is_directed") || !py::hasattr(graph, "is_multigraph")) {
    throw py::type_error("expected an undirected networkx Graph, not " + type_name(graph));
  }
  if (graph.attr("is_directed")().cast<bool>()) {
    throw py::type_error("soft bonds are defined on undirected graphs; got a directed " + type_name(graph));
  }
  if (graph.attr("is_multigraph")().cast<bool>()) {
    throw py::type_error("soft bonds need one edge per node pair; got a multigraph " + type_name(graph));
  }
  LabelledGraph out;
  int n = 0;
  for (py::handle node : py::iter(graph)) out.index[node] = py::int_(n++);

  std::vector<core::WeightedEdge> edges;
  py::object adj = py::hasattr(graph, "_adj") ? graph.attr("_adj") : graph.attr("adj");
  for_each_item(adj, [&](py::handle u, py::handle neighbours) {
    bool found = false;
    const int iu = index_in(out.index, u, found);
    if (!found) throw py::key_error("adjacency key " + std::string(py::repr(u)) + " is not a node of the graph");
    for_each_item(neighbours, [&](py::handle v, py::handle data) {
      const int iv = index_in(out.index, v, found);
      if (!found) throw py::key_error("edge end " + std::string(py::repr(v)) + " is not a node of the graph");
      if (iv < iu) return;  // each undirected edge once
      edges.push_back({iu, iv, weight_of(data)});
    });
  });
  out.graph = counts::IndexGraph(n, edges);
  return out;
}

std::vector<std::optional<std::size_t>> record_edges(const LabelledGraph& graph, py::handle records) {
  std::vector<std::optional<std::size_t>> out;
  for (py::handle record : py::iter(records)) {
    py::object u = item(record, "u_node");
    py::object v = item(record, "v_node");
    bool found_u = false;
    bool found_v = false;
    const int iu = index_in(graph.index, u, found_u);
    const int iv = index_in(graph.index, v, found_v);
    out.push_back(found_u && found_v ? graph.graph.find_edge(iu, iv) : std::nullopt);
  }
  return out;
}

counts::LpiCounts lpi_counts_of(py::handle lpi) {
  auto count = [&](const char* key) {
    py::object value = item(lpi, key);
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
      throw py::type_error(std::string("LPI entry \"") + key + "\" must be an integer, not " + type_name(value));
    }
    py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!as_int) throw py::error_already_set();
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
    if (overflow != 0 || x < 0 || x > 1'000'000'000) {
      throw py::value_error(std::string("LPI entry \"") + key + "\" is not a possible eigenvalue count: " +
                            std::string(py::str(as_int)));
    }
    return static_cast<int>(x);
  };
  counts::LpiCounts c;
  c.n_plus = count("n+");
  c.n_zero = count("n0");
  c.n_minus = count("n-");
  return c;
}

long long record_integer(py::handle record, const char* key) {
  py::object value = item(record, key);
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    throw py::type_error(std::string("bond record \"") + key + "\" must be an integer, not " + type_name(value));
  }
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!as_int) throw py::error_already_set();
  int overflow = 0;
  const long long x = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  return overflow != 0 ? -1 : x;
}

int record_order(py::handle record) {
  py::str key("order");
  PyObject* found = PyObject_GetItem(record.ptr(), key.ptr());
  if (found == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
    return 1;
  }
  py::object order = py::reinterpret_steal<py::object>(found);
  if (PyBool_Check(order.ptr()) || !PyIndex_Check(order.ptr())) {
    throw py::type_error("bond record \"order\" must be an integer, not " + type_name(order));
  }
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(order.ptr()));
  if (!as_int) throw py::error_already_set();
  int overflow = 0;
  long long o = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  if (overflow != 0) o = overflow > 0 ? 1'000'000 : -1'000'000;
  return static_cast<int>(std::clamp(o, -1'000'000LL, 1'000'000LL));
}

int graph_node_of(const LabelledGraph& graph, py::handle label) {
  bool found = false;
  const int i = index_in(graph.index, label, found);
  return found ? i : -1;
}

std::vector<int> graph_nodes_of(const LabelledGraph& graph, py::handle labels) {
  std::vector<int> out;
  for (py::handle label : py::iter(labels)) {
    const int i = graph_node_of(graph, label);
    if (i >= 0) out.push_back(i);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace tessarin::bindings
