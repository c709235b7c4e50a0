#include "to_python.h"

#include <algorithm>
#include <stdexcept>

#include "convert.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tessarin::bindings {

py::array_t<double> numpy_vector(const std::vector<double>& values) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

py::dict lpi_to_python(const counts::Lpi& lpi) {
  return py::dict("n+"_a = lpi.counts.n_plus, "n0"_a = lpi.counts.n_zero, "n-"_a = lpi.counts.n_minus,
                  "eigenvalues"_a = numpy_vector(lpi.eigenvalues));
}

py::dict bond_record_to_python(const vif::BondRecord& r) {
  return py::dict("u_node"_a = r.u_node, "v_node"_a = r.v_node, "atom_u"_a = r.atom_u, "atom_v"_a = r.atom_v,
                  "sym_u"_a = r.sym_u, "sym_v"_a = r.sym_v, "order"_a = r.order, "k"_a = r.k);
}

py::dict fragment_entry_to_python(const ms::FragmentEntry& f) {
  py::object fragments = py::none();
  if (f.fragments) {
    py::list tuples;
    for (const ms::FragmentTuple& t : *f.fragments) tuples.append(py::make_tuple(t.formula, t.average_mass, t.mz));
    fragments = tuples;
  }
  return py::dict("bond"_a = f.bond, "split"_a = py::bool_(f.split), "mode"_a = ms::cut_mode_name(f.mode),
                  "fragments"_a = fragments);
}

py::list fragment_entries_to_python(const std::vector<ms::FragmentEntry>& entries) {
  py::list out;
  for (const ms::FragmentEntry& e : entries) out.append(fragment_entry_to_python(e));
  return out;
}

py::dict generation_peaks_to_python(const std::vector<ms::GenerationPeak>& peaks) {
  py::dict out;
  for (const ms::GenerationPeak& p : peaks) {
    out[py::int_(p.mz)] = py::dict("formula"_a = p.formula, "generation"_a = p.generation);
  }
  return out;
}

py::object json_to_python(const nlohmann::ordered_json& j) {
  using value_t = nlohmann::ordered_json::value_t;
  switch (j.type()) {
    case value_t::null:
      return py::none();
    case value_t::boolean:
      return py::bool_(j.get<bool>());
    case value_t::number_integer:
      return py::int_(j.get<long long>());
    case value_t::number_unsigned:
      return py::int_(j.get<unsigned long long>());
    case value_t::number_float:
      return py::float_(j.get<double>());
    case value_t::string:
      return lenient_text(j.get_ref<const std::string&>());
    case value_t::array: {
      py::list out;
      for (const auto& item : j) out.append(json_to_python(item));
      return out;
    }
    case value_t::object: {
      py::dict out;
      for (const auto& [key, item] : j.items()) out[lenient_text(key)] = json_to_python(item);
      return out;
    }
    default:
      throw std::runtime_error("unexpected value in a spectrum record");
  }
}

}  // namespace tessarin::bindings

namespace tessarin::bindings {

py::tuple spectrum_to_python(const spectra::Spectrum& s) {
  py::array_t<double> mz = numpy_vector(s.mz);
  py::array_t<double> intensities = numpy_vector(s.intensities);
  mz.attr("flags").attr("writeable") = false;
  intensities.attr("flags").attr("writeable") = false;
  py::list annotations;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i >= s.annotations.size() || s.annotations[i].empty()) {
      annotations.append(py::none());
      continue;
    }
    std::string text;
    for (const std::string& part : s.annotations[i]) text += (text.empty() ? "" : ", ") + part;
    annotations.append(lenient_text(text));
  }
  py::dict metadata;
  for (const auto& [key, value] : s.metadata.entries()) metadata[lenient_text(key)] = lenient_text(value);
  return py::make_tuple(mz, intensities, annotations, metadata);
}

}  // namespace tessarin::bindings
