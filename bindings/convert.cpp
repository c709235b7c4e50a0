#include "convert.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "core/errors.h"
#include "identify/rank.h"
#include "mol_bridge.h"

namespace py = pybind11;

namespace tessarin::bindings {

[[noreturn]] void raise_python_error(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

std::string type_name(py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

std::optional<PythonInteger> python_integer(py::handle value) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) return std::nullopt;
  PythonInteger out;
  out.as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!out.as_int) throw py::error_already_set();
  out.value = PyLong_AsLongLongAndOverflow(out.as_int.ptr(), &out.overflow);
  return out;
}

long long integer_argument(py::handle value, const std::string& what, long long lo, long long hi) {
  const std::optional<PythonInteger> v = python_integer(value);
  if (!v) throw py::type_error(what + " must be an integer, not " + type_name(value));
  if (v->overflow != 0 || v->value < lo || v->value > hi) {
    throw py::value_error(what + " is out of range: " + std::string(py::str(v->as_int)));
  }
  return v->value;
}

double real_argument(py::handle value, const std::string& what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || value.is_none() ||
      PyComplex_Check(value.ptr())) {
    throw py::type_error(what + " must be a real number, not " + type_name(value));
  }
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::type_error(what + " must be a real number, not " + type_name(value));
  }
  return result;
}

double finite_argument(py::handle value, const std::string& what) {
  const double result = real_argument(value, what);
  if (!std::isfinite(result)) throw py::value_error(what + " must be finite, not " + std::string(py::repr(value)));
  return result;
}

double number_argument(py::handle value, const std::string& what) {
  const double result = real_argument(value, what);
  if (std::isnan(result)) throw py::value_error(what + " must be a number, not NaN");
  return result;
}

std::optional<std::string> utf8(py::handle text, const std::string& what) {
  if (!py::isinstance<py::str>(text)) throw py::type_error(what + " must be a str, not " + type_name(text));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::string utf8_text(py::handle text, const std::string& what) {
  std::optional<std::string> out = utf8(text, what);
  if (!out) {
    throw py::value_error(what + " is not valid text (it holds a lone surrogate): " + std::string(py::repr(text)));
  }
  return std::move(*out);
}

py::str lenient_text(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

int atom_index(const RDKit::ROMol& mol, py::handle value) {
  // operator.index semantics: ints and integer-like objects only.
  py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!as_int) throw py::error_already_set();
  const long long n = static_cast<long long>(mol.getNumAtoms());
  int overflow = 0;
  const long long idx = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
  if (overflow != 0 || idx < 0 || idx >= n) {
    throw py::index_error("atom index " + std::string(py::str(as_int)) + " is out of range for a molecule of " +
                          std::to_string(n) + " atom" + (n == 1 ? "" : "s"));
  }
  return static_cast<int>(idx);
}

std::vector<int> atom_indices(const RDKit::ROMol& mol, py::handle iterable) {
  std::vector<int> out;
  if (py::isinstance<py::str>(iterable) || py::isinstance<py::bytes>(iterable)) {
    throw py::type_error("atom indices must be an iterable of integers, not a string");
  }
  for (py::handle item : py::iter(iterable)) out.push_back(atom_index(mol, item));
  return out;
}

py::object record_item(py::handle record, const char* key) {
  py::str k(key);
  PyObject* value = PyObject_GetItem(record.ptr(), k.ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

long long record_integer(py::handle record, const char* key) {
  py::object value = record_item(record, key);
  const std::optional<PythonInteger> x = python_integer(value);
  if (!x) throw py::type_error(std::string("bond record \"") + key + "\" must be an integer, not " + type_name(value));
  return x->overflow != 0 ? -1 : x->value;
}

std::optional<int> record_order(py::handle record) {
  py::str key("order");
  PyObject* found = PyObject_GetItem(record.ptr(), key.ptr());
  if (found == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  py::object order = py::reinterpret_steal<py::object>(found);
  const std::optional<PythonInteger> o = python_integer(order);
  if (!o) throw py::type_error("bond record \"order\" must be an integer, not " + type_name(order));
  const long long value = o->overflow != 0 ? o->overflow * 1'000'000LL : o->value;
  return static_cast<int>(std::clamp(value, -1'000'000LL, 1'000'000LL));
}

std::string record_symbol(py::handle record, const char* key) {
  py::object value = record_item(record, key);
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string("bond record \"") + key + "\" must be an element symbol string, not " +
                         type_name(value));
  }
  return value.cast<std::string>();
}

counts::LpiCounts lpi_counts_of(py::handle lpi) {
  auto count = [&](const char* key) {
    py::object value = record_item(lpi, key);
    const std::optional<PythonInteger> x = python_integer(value);
    if (!x) throw py::type_error(std::string("LPI entry \"") + key + "\" must be an integer, not " + type_name(value));
    if (x->overflow != 0 || x->value < 0 || x->value > 1'000'000'000) {
      throw py::value_error(std::string("LPI entry \"") + key +
                            "\" is not a possible eigenvalue count: " + std::string(py::str(x->as_int)));
    }
    return static_cast<int>(x->value);
  };
  counts::LpiCounts c;
  c.n_plus = count("n+");
  c.n_zero = count("n0");
  c.n_minus = count("n-");
  return c;
}

}  // namespace tessarin::bindings

namespace tessarin::bindings {

std::string path_argument(py::handle path, const std::string& what) {
  py::object fs = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!fs) {
    PyErr_Clear();
    throw py::type_error(what + " must be a path (str, bytes or os.PathLike), not " + type_name(path));
  }
  std::string out;
  if (py::isinstance<py::bytes>(fs)) {
    out = fs.cast<std::string>();
  } else {
    py::object encoded = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fs.ptr()));
    if (!encoded) throw py::error_already_set();
    out = encoded.cast<std::string>();
  }
  if (out.find('\0') != std::string::npos) throw py::value_error(what + " holds a NUL character");
  if (out.empty()) throw py::value_error(what + " is empty");
  return out;
}

std::string smiles_argument(py::handle value, const std::string& what) {
  if (py::isinstance<py::str>(value)) return utf8_text(value, what);
  const RDKit::ROMol* mol = nullptr;
  if (!value.is_none()) {
    try {
      mol = &borrow_mol(value, what.c_str());
    } catch (const py::type_error&) {
      mol = nullptr;
    }
  }
  if (mol == nullptr) throw py::type_error(what + " must be a SMILES string or an RDKit Mol, not " + type_name(value));
  if (mol->getNumAtoms() == 0) throw py::value_error(what + " is a molecule without atoms");
  return RDKit::MolToSmiles(*mol);
}

std::vector<run::MoleculeInput> molecule_inputs(py::handle molecules, const std::string& what) {
  const std::string kinds = "an iterable of SMILES strings, (name, SMILES) pairs or RDKit Mols";
  if (py::isinstance<py::str>(molecules) || py::isinstance<py::bytes>(molecules)) {
    throw py::type_error(what + " must be " + kinds + ", not one string");
  }
  if (!py::hasattr(molecules, "__iter__"))
    throw py::type_error(what + " must be " + kinds + ", not " + type_name(molecules));
  std::vector<run::MoleculeInput> out;
  std::size_t position = 0;
  for (py::handle item : py::reinterpret_borrow<py::iterable>(molecules)) {
    ++position;
    const std::string where = "molecule " + std::to_string(position);
    run::MoleculeInput m;
    m.line = position;
    if (py::isinstance<py::str>(item)) {
      m.smiles = utf8_text(item, where);
    } else if ((py::isinstance<py::tuple>(item) || py::isinstance<py::list>(item)) && py::len(item) == 2 &&
               py::isinstance<py::str>(item[py::int_(0)])) {
      m.name = utf8_text(py::object(item[py::int_(0)]), where);
      m.smiles = smiles_argument(py::object(item[py::int_(1)]), where);
    } else {
      const RDKit::ROMol* mol = nullptr;
      try {
        mol = item.is_none() ? nullptr : &borrow_mol(item, where.c_str());
      } catch (const py::type_error&) {
        mol = nullptr;
      }
      if (mol == nullptr) {
        throw py::type_error(where + " is neither a SMILES string, an RDKit Mol nor a (name, SMILES or Mol) pair: " +
                             std::string(py::repr(item)));
      }
      m.smiles = RDKit::MolToSmiles(*mol);
      std::string name;
      if (mol->getPropIfPresent("_Name", name)) m.name = name;
    }
    out.push_back(std::move(m));
  }
  return out;
}

unsigned jobs_argument(py::handle jobs) {
  return jobs.is_none() ? 0U : static_cast<unsigned>(integer_argument(jobs, "jobs", 1, 1024));
}

namespace {

std::vector<std::string> annotation_parts(py::handle entry, std::size_t peak) {
  std::vector<std::string> out;
  if (entry.is_none()) return out;
  const std::string where = "annotation of peak " + std::to_string(peak);
  auto add = [&out](std::string_view text) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = text.find(',', start);
      std::string_view part =
          text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
      while (!part.empty() && std::isspace(static_cast<unsigned char>(part.front()))) part.remove_prefix(1);
      while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back()))) part.remove_suffix(1);
      if (!part.empty()) out.emplace_back(part);
      if (comma == std::string_view::npos) return;
      start = comma + 1;
    }
  };
  if (py::isinstance<py::str>(entry)) {
    add(utf8_text(entry, where));
  } else if (py::isinstance<py::list>(entry) || py::isinstance<py::tuple>(entry)) {
    for (py::handle part : entry) {
      if (!py::isinstance<py::str>(part)) throw py::type_error(where + " must hold strings, not " + type_name(part));
      add(utf8_text(part, where));
    }
  } else {
    throw py::type_error(where + " must be None, a str or a list of str, not " + type_name(entry));
  }
  return out;
}

std::vector<double> peak_array(py::handle values, const char* what) {
  if (values.is_none() || py::isinstance<py::str>(values) || py::isinstance<py::bytes>(values)) {
    throw py::type_error(std::string(what) + " must be a 1-D array of numbers, not " + type_name(values));
  }
  DoubleArray a = DoubleArray::ensure(values);
  if (!a) {
    PyErr_Clear();
    throw py::type_error(std::string(what) + " must be a 1-D array of numbers, not " + type_name(values));
  }
  if (a.ndim() != 1) {
    throw py::value_error(std::string(what) + " must be 1-D, not of shape " + std::string(py::str(a.attr("shape"))));
  }
  return std::vector<double>(a.data(), a.data() + a.shape(0));
}

}  // namespace

spectra::Spectrum spectrum_from_parts(py::handle mz, py::handle intensities, py::handle annotations,
                                      py::handle metadata) {
  std::vector<double> m = peak_array(mz, "mz");
  std::vector<double> in = peak_array(intensities, "intensities");
  if (m.size() != in.size()) {
    throw py::value_error("mz and intensities differ in length (" + std::to_string(m.size()) + " and " +
                          std::to_string(in.size()) + ")");
  }
  std::vector<std::vector<std::string>> notes;
  if (!annotations.is_none()) {
    if (py::isinstance<py::str>(annotations) || !py::hasattr(annotations, "__len__")) {
      throw py::type_error("annotations must be None or a list with one entry per peak, not " + type_name(annotations));
    }
    if (py::len(annotations) != m.size()) {
      throw py::value_error("annotations has " + std::to_string(py::len(annotations)) + " entries for " +
                            std::to_string(m.size()) + " peaks");
    }
    std::size_t k = 0;
    bool any = false;
    notes.resize(m.size());
    for (py::handle entry : annotations) {
      if (k >= notes.size()) break;
      notes[k] = annotation_parts(entry, k);
      any = any || !notes[k].empty();
      ++k;
    }
    if (!any) notes.clear();
  }
  spectra::Metadata meta;
  if (!metadata.is_none()) {
    if (!py::hasattr(metadata, "items")) {
      throw py::type_error("metadata must be None or a mapping of str to str or numbers, not " + type_name(metadata));
    }
    for (py::handle item : metadata.attr("items")()) {
      py::handle key = item[py::int_(0)];
      py::handle value = item[py::int_(1)];
      if (!py::isinstance<py::str>(key)) throw py::type_error("metadata keys must be str, not " + type_name(key));
      const std::string k = utf8_text(key, "metadata key");
      const std::string where = "metadata \"" + k + "\"";
      if (value.is_none()) continue;
      if (py::isinstance<py::str>(value)) {
        meta.set(k, utf8_text(value, where));
      } else if (!PyBool_Check(value.ptr()) && (python_integer(value) || PyFloat_Check(value.ptr()))) {
        meta.set(k, std::string(py::str(value)));
      } else {
        throw py::type_error(where + " must be a str or a number, not " + type_name(value));
      }
    }
  }
  try {
    return spectra::Spectrum::from_peaks(std::move(m), std::move(in), std::move(notes), std::move(meta));
  } catch (const InvalidInput& e) {
    throw py::value_error(e.what());
  }
}

spectra::Spectrum spectrum_argument(py::handle value, const std::string& what) {
  for (const char* attr : {"mz", "intensities", "annotations", "metadata"}) {
    if (!py::hasattr(value, attr)) throw py::type_error(what + " must be a Spectrum, not " + type_name(value));
  }
  try {
    return spectrum_from_parts(value.attr("mz"), value.attr("intensities"), value.attr("annotations"),
                               value.attr("metadata"));
  } catch (py::error_already_set& e) {
    throw;
  } catch (const py::builtin_exception& e) {
    // Name the argument: "query: mz and intensities differ in length".
    PyObject* type = PyExc_ValueError;
    if (dynamic_cast<const py::type_error*>(&e) != nullptr) type = PyExc_TypeError;
    PyErr_SetString(type, (what + ": " + e.what()).c_str());
    throw py::error_already_set();
  }
}

std::vector<spectra::Spectrum> spectrum_list(py::handle values, const std::string& what) {
  if (py::isinstance<py::str>(values) || py::isinstance<py::bytes>(values) || !py::hasattr(values, "__iter__")) {
    throw py::type_error(what + " must be an iterable of Spectrum objects, not " + type_name(values));
  }
  std::vector<spectra::Spectrum> out;
  std::size_t k = 0;
  for (py::handle item : py::reinterpret_borrow<py::iterable>(values)) {
    out.push_back(spectrum_argument(item, what + " item " + std::to_string(k++)));
  }
  return out;
}

std::optional<spectra::Format> spectrum_format_argument(py::handle format) {
  if (format.is_none()) return std::nullopt;
  const std::string name = utf8_text(format, "format");
  const std::optional<spectra::Format> f = spectra::format_named(name);
  if (!f) {
    throw py::value_error("format must be None, \"msp\", \"massbank\", \"jcamp\", \"mgf\" or \"jsonl\", not " +
                          std::string(py::repr(format)));
  }
  return f;
}

spectra::SimilarityOptions similarity_options(py::handle method, py::handle tolerance, py::handle mz_power,
                                              py::handle intensity_power, bool reverse) {
  spectra::SimilarityOptions o;
  const std::string name = utf8_text(method, "method");
  const std::optional<spectra::ScoreMethod> m = spectra::method_named(name);
  if (!m) {
    throw py::value_error("method must be \"cosine\", \"dot_product\" or \"composite\", not " +
                          std::string(py::repr(method)));
  }
  o.method = *m;
  auto non_negative = [](py::handle v, const char* what) {
    const double x = finite_argument(v, what);
    if (x < 0) throw py::value_error(std::string(what) + " must not be negative, not " + std::string(py::repr(v)));
    return x;
  };
  o.tolerance = non_negative(tolerance, "tolerance");
  if (!mz_power.is_none()) o.mz_power = non_negative(mz_power, "mz_power");
  if (!intensity_power.is_none()) o.intensity_power = non_negative(intensity_power, "intensity_power");
  o.reverse = reverse;
  return o;
}

prediction::PredictionOptions prediction_options(py::handle model, bool ring_fragmentation, bool recursive_ms,
                                                 py::handle max_generations) {
  prediction::PredictionOptions o;
  const std::string name = utf8_text(model, "model");
  const std::optional<prediction::Model> m = prediction::model_named(name);
  if (!m)
    throw py::value_error("model must name a spectrum model (\"schematic\" or \"ei\"), not " +
                          std::string(py::repr(model)));
  o.model = *m;
  o.analysis.ring_fragmentation = ring_fragmentation;
  o.analysis.recursive = recursive_ms;
  o.analysis.max_generations = static_cast<int>(integer_argument(max_generations, "max_generations", 0, 1000));
  return o;
}

std::optional<int> mass_filter_argument(py::handle mass, const spectra::Spectrum& measured) {
  if (mass.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(mass)) {
    if (utf8_text(mass, "mass") != "molecular_ion") {
      throw py::value_error("mass must be None, an integer or \"molecular_ion\", not " + std::string(py::repr(mass)));
    }
    const std::optional<int> m = identify::molecular_ion_mass(measured);
    if (!m) {
      throw py::value_error(
          "mass=\"molecular_ion\": the spectrum's metadata gives no molecular mass "
          "(mol_mass, exact_mass, precursor_mz or formula)");
    }
    return m;
  }
  return static_cast<int>(integer_argument(mass, "mass", 1, 1'000'000'000));
}

std::optional<double> optional_number_argument(py::handle value, const std::string& what) {
  if (value.is_none()) return std::nullopt;
  return finite_argument(value, what);
}

}  // namespace tessarin::bindings
