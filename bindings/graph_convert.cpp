#include "graph_convert.h"

#include <algorithm>
#include <string>

#include "convert.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

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

double weight_of(py::handle data, py::handle weight) {
  if (weight.is_none()) return 1.0;
  py::object value;
  if (PyDict_Check(data.ptr())) {
    PyObject* found = PyDict_GetItemWithError(data.ptr(), weight.ptr());
    if (found == nullptr) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return 1.0;
    }
    value = py::reinterpret_borrow<py::object>(found);
  } else {
    if (!data.attr("__contains__")(weight).cast<bool>()) return 1.0;
    value = data[weight];
  }
  // float() semantics, as NumPy applies when it stores the weight.
  py::object as_float = py::reinterpret_steal<py::object>(PyNumber_Float(value.ptr()));
  if (!as_float) throw py::error_already_set();
  return PyFloat_AS_DOUBLE(as_float.ptr());
}

// (key, value) pairs of a mapping; plain dicts without Python-level calls.
template <typename Fn>
void for_each_item(py::handle mapping, Fn&& fn) {
  if (PyDict_Check(mapping.ptr())) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(mapping.ptr(), &pos, &key, &value)) fn(py::handle(key), py::handle(value));
    return;
  }
  for (py::handle key : py::iter(mapping)) fn(key, py::object(mapping[key]));
}

}  // namespace

LabelledGraph read_graph(py::handle graph, py::handle weight) {
  if (!py::hasattr(graph, "adj") || !py::hasattr(graph, "is_directed") || !py::hasattr(graph, "is_multigraph")) {
    throw py::type_error("expected an undirected networkx Graph, not " + type_name(graph));
  }
  if (graph.attr("is_directed")().cast<bool>()) {
    throw py::type_error("orbital graphs are undirected; got a directed " + type_name(graph));
  }
  if (graph.attr("is_multigraph")().cast<bool>()) {
    throw py::type_error("orbital graphs have one edge per node pair; got a multigraph " + type_name(graph));
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
      edges.push_back({iu, iv, weight_of(data, weight)});
    });
  });
  out.graph = counts::IndexGraph(n, edges);
  return out;
}

std::vector<std::optional<std::size_t>> record_edges(const LabelledGraph& graph, py::handle records) {
  std::vector<std::optional<std::size_t>> out;
  for (py::handle record : py::iter(records)) {
    py::object u = record_item(record, "u_node");
    py::object v = record_item(record, "v_node");
    const int iu = graph_node_of(graph, u);
    const int iv = graph_node_of(graph, v);
    out.push_back(iu >= 0 && iv >= 0 ? graph.graph.find_edge(iu, iv) : std::nullopt);
  }
  return out;
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
