#include "graph_convert.h"

#include <string>

#include "convert.h"

namespace py = pybind11;

namespace tessarin::bindings {
namespace {

template <typename Fn>
void for_each_item(py::handle mapping, Fn&& fn) {
  if (PyDict_Check(mapping.ptr())) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(mapping.ptr(), &pos, &key, &value)) fn(py::handle(key), py::handle(value));
    return;
  }
  for (py::handle item : mapping.attr("items")()) {
    py::tuple kv = py::reinterpret_borrow<py::tuple>(item);
    fn(kv[0], kv[1]);
  }
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

}  // namespace

DenseGraph adjacency_of(py::handle graph, py::handle weight) {
  if (!py::hasattr(graph, "adj") || !py::hasattr(graph, "is_multigraph")) {
    throw py::type_error("expected a networkx graph, not " + type_name(graph));
  }
  DenseGraph out;
  py::dict index;
  for (py::handle node : py::iter(graph)) {
    index[node] = py::int_(out.n);
    ++out.n;
  }
  const bool multigraph = graph.attr("is_multigraph")().cast<bool>();
  py::object adj = py::hasattr(graph, "_adj") ? graph.attr("_adj") : graph.attr("adj");
  auto index_of = [&index](py::handle node) {
    PyObject* i = PyDict_GetItemWithError(index.ptr(), node.ptr());
    if (i == nullptr) {
      if (PyErr_Occurred()) throw py::error_already_set();
      throw py::key_error("edge end " + std::string(py::repr(node)) + " is not a node of the graph");
    }
    return static_cast<int>(PyLong_AsLong(i));
  };
  for_each_item(adj, [&](py::handle u, py::handle neighbours) {
    const int row = index_of(u);
    for_each_item(neighbours, [&](py::handle v, py::handle data) {
      const int col = index_of(v);
      if (multigraph) {
        double sum = 0.0;
        for_each_item(data, [&](py::handle, py::handle edge_data) { sum += weight_of(edge_data, weight); });
        out.entries.push_back({row, col, sum});
      } else {
        out.entries.push_back({row, col, weight_of(data, weight)});
      }
    });
  });
  return out;
}

}  // namespace tessarin::bindings
