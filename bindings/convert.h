// Reading Python values for the engine: the one place where a binding turns
// an argument into a C++ value, with the argument rules a Python user
// expects (TypeError for the wrong kind of value, ValueError for a wrong
// value, IndexError for an index outside its range), each message naming
// the argument.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "counts/lpi.h"
#include "prediction/predict.h"
#include "run/input.h"
#include "spectra/reader.h"
#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace RDKit {
class ROMol;
}

namespace tessarin::bindings {

// Arrays as the signatures take them: float64, C order, converted from any
// array-like (a copy when needed). Arrays changed in place are checked
// separately (layout_bindings.cpp), since a copy would take the changes.
using DoubleArray = pybind11::array_t<double, pybind11::array::c_style | pybind11::array::forcecast>;

// The name of a Python value's type, for messages.
std::string type_name(pybind11::handle value);

// Raises the Python exception `type` with `message` (as a C++ throw of
// pybind11::error_already_set).
[[noreturn]] void raise_python_error(PyObject* type, const std::string& message);

// A Python integer (int, NumPy integer; bool is not one) read as long long.
// `overflow` is the sign of an integer beyond long long, whose `value` then
// means nothing; `as_int` is the integer itself, for messages.
struct PythonInteger {
  long long value = 0;
  int overflow = 0;
  pybind11::object as_int;
};

// nullopt for anything that is not such an integer.
std::optional<PythonInteger> python_integer(pybind11::handle value);

// An integer argument within [lo, hi]: TypeError for a non-integer (bool,
// float and str included), ValueError outside the range.
long long integer_argument(pybind11::handle value, const std::string& what, long long lo, long long hi);

// A real-number argument (int, float, NumPy scalar; not str, bytes or None).
double real_argument(pybind11::handle value, const std::string& what);
// The same, and ValueError unless finite.
double finite_argument(pybind11::handle value, const std::string& what);
// The same, and ValueError for NaN only.
double number_argument(pybind11::handle value, const std::string& what);

// The UTF-8 form of a str, or nullopt for a str that has none (it holds lone
// surrogates). TypeError naming `what` for anything but a str.
std::optional<std::string> utf8(pybind11::handle text, const std::string& what);
// The same, with ValueError naming `what` for a str without a UTF-8 form.
std::string utf8_text(pybind11::handle text, const std::string& what);
// Bytes from outside (files, the network) as text; bytes that are not UTF-8
// become U+FFFD.
pybind11::str lenient_text(const std::string& bytes);

// One atom index (operator.index semantics), checked against the molecule.
int atom_index(const RDKit::ROMol& mol, pybind11::handle value);
// Atom indices from any iterable of integers (not a string).
std::vector<int> atom_indices(const RDKit::ROMol& mol, pybind11::handle iterable);

// Members of a bond record (any mapping): KeyError when missing.
pybind11::object record_item(pybind11::handle record, const char* key);
// An integer member: TypeError when not an integer; values beyond long long
// come back as -1 (no atom has such an index).
long long record_integer(pybind11::handle record, const char* key);
// The record's "order", nullopt when it has none; TypeError when not an
// integer. Orders far outside any real bond are clamped (only "2 or more"
// matters to the cutters).
std::optional<int> record_order(pybind11::handle record);
// An element symbol member ("sym_u"): TypeError when not a str.
std::string record_symbol(pybind11::handle record, const char* key);

// The "n+", "n0" and "n-" integers of an LPI mapping: KeyError when one is
// missing, TypeError when one is not an integer, ValueError when negative.
counts::LpiCounts lpi_counts_of(pybind11::handle lpi);

// A file path: str, bytes or os.PathLike (TypeError otherwise; ValueError
// for a NUL character).
std::string path_argument(pybind11::handle path, const std::string& what);

// A SMILES string, or an RDKit Mol standing for its canonical SMILES.
std::string smiles_argument(pybind11::handle value, const std::string& what);

// Molecules from any iterable (not a string) of SMILES strings, RDKit Mols
// (named by their "_Name" property) and (name, SMILES or Mol) pairs; `line` is
// the 1-based position. TypeError naming the position for anything else.
std::vector<run::MoleculeInput> molecule_inputs(pybind11::handle molecules, const std::string& what);

// Worker threads: None (0: one per core) or an integer from 1 to 1024.
unsigned jobs_argument(pybind11::handle jobs);

// Peaks given apart, as Spectrum's constructor takes them: m/z and
// intensities as 1-D array-likes of one length; annotations None or one
// entry per peak, each None, a str (several ions separated by commas) or a
// list of str; metadata None or a mapping of str keys to str, int or float
// values (numbers are kept as their text). The peaks come back sorted by
// m/z. TypeError / ValueError naming the part at fault.
spectra::Spectrum spectrum_from_parts(pybind11::handle mz, pybind11::handle intensities, pybind11::handle annotations,
                                      pybind11::handle metadata);

// A spectrum argument: any object with the attributes mz, intensities,
// annotations and metadata read as above (a tessarin.Spectrum). TypeError
// naming `what` for an object without them.
spectra::Spectrum spectrum_argument(pybind11::handle value, const std::string& what);

// Spectra from an iterable of spectrum arguments (not a string).
std::vector<spectra::Spectrum> spectrum_list(pybind11::handle values, const std::string& what);

// A spectrum file format by name ("msp", "massbank", "jcamp", "mgf",
// "jsonl"), or None for "by extension or content".
std::optional<spectra::Format> spectrum_format_argument(pybind11::handle format);

// The options of a score: method "cosine", "dot_product" or "composite";
// tolerance >= 0; powers None (the method's) or >= 0.
spectra::SimilarityOptions similarity_options(pybind11::handle method, pybind11::handle tolerance,
                                              pybind11::handle mz_power, pybind11::handle intensity_power,
                                              bool reverse);

// The model and the analysis options of a prediction; max_generations from
// 0 to 1000, model by name ("schematic").
prediction::PredictionOptions prediction_options(pybind11::handle model, bool ring_fragmentation, bool recursive_ms,
                                                 pybind11::handle max_generations);

// The nominal mass candidates must have: None (any), an integer, or
// "molecular_ion" for the molecular mass the measured spectrum's metadata
// gives (ValueError when it gives none).
std::optional<int> mass_filter_argument(pybind11::handle mass, const spectra::Spectrum& measured);

// None or a finite number.
std::optional<double> optional_number_argument(pybind11::handle value, const std::string& what);

}  // namespace tessarin::bindings
