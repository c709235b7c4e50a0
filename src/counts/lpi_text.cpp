#include "counts/lpi_text.h"

#include <vector>

#include "core/number_format.h"

namespace tessarin::counts {
namespace {

std::string braces(const LpiCounts& c) {
  return "LPI = {n+=" + std::to_string(c.n_plus) + ", n0=" + std::to_string(c.n_zero) +
         ", n-=" + std::to_string(c.n_minus) + "}";
}

}  // namespace

std::string lpi_report_line(const LpiCounts& counts) {
  return "      " + braces(counts) + "  (" + std::to_string(counts.total()) + " orbitals total)";
}

std::string eigenvalue_line(std::span<const double> eigenvalues) {
  std::vector<double> rounded;
  rounded.reserve(eigenvalues.size());
  for (double x : eigenvalues) rounded.push_back(core::numpy_round(x, 3));
  return "      Eigenvalues: " + core::format_float_list(rounded);
}

std::string lpi_title_part(const LpiCounts& counts) { return "   |   " + braces(counts) + "   |   "; }

}  // namespace tessarin::counts
