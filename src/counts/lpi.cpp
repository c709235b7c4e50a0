#include "counts/lpi.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "core/errors.h"
#include "core/symmetric_eigen.h"

namespace tessarin::counts {
namespace {

void check_entry(int n, const MatrixEntry& e) {
  if (e.row < 0 || e.row >= n || e.col < 0 || e.col >= n) {
    throw IndexOutOfRange("matrix entry (" + std::to_string(e.row) + ", " + std::to_string(e.col) +
                          ") lies outside a graph of " + std::to_string(n) + " nodes");
  }
  if (!std::isfinite(e.weight)) {
    throw InvalidInput("edge weight between nodes " + std::to_string(e.row) + " and " + std::to_string(e.col) +
                       " is not a finite number");
  }
}

// Bytes of memory that can be allocated without swapping, as the kernel
// estimates it; the physical memory when there is no such estimate.
double available_memory_bytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemAvailable:", 0) != 0) continue;
    std::istringstream fields(line.substr(13));
    double kib = 0.0;
    if (fields >> kib) return kib * 1024.0;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) return static_cast<double>(pages) * static_cast<double>(page_size);
  return std::numeric_limits<double>::infinity();  // unknown: let the allocation decide
}

std::string gigabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  return text;
}

Lpi lpi_of_column_major(int n, std::vector<double>& matrix, double tol) {
  Lpi out;
  thread_local core::SymmetricEigenSolver solver;
  solver.eigenvalues(n, matrix, out.eigenvalues);
  out.counts = count_signs(out.eigenvalues, tol);
  return out;
}

}  // namespace

void check_dense_matrix_fits(long long n) {
  constexpr double kAlwaysFine = 256.0 * 1024 * 1024;
  const double bytes = static_cast<double>(n) * static_cast<double>(n) * sizeof(double);
  if (bytes <= kAlwaysFine) return;
  const double available = available_memory_bytes();
  if (bytes <= available) return;
  throw InsufficientMemory("the graph is too large for its LPI: " + std::to_string(n) + " nodes need a dense " +
                           std::to_string(n) + " x " + std::to_string(n) + " matrix of " + gigabytes(bytes) +
                           ", more than the " + gigabytes(available) + " of memory available");
}

LpiCounts count_signs(std::span<const double> eigenvalues, double tol) {
  // Three independent tests: with a negative tol the classes overlap, and a
  // value may count twice, exactly as the three counts are defined.
  LpiCounts c;
  for (double x : eigenvalues) {
    if (x > tol) ++c.n_plus;
    if (std::abs(x) <= tol) ++c.n_zero;
    if (x < -tol) ++c.n_minus;
  }
  return c;
}

Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol) {
  if (n < 0) throw InvalidInput("a graph cannot have a negative node count");
  if (n == 0) return {};
  check_dense_matrix_fits(n);
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> matrix(un * un, 0.0);
  for (const MatrixEntry& e : entries) {
    check_entry(n, e);
    matrix[static_cast<std::size_t>(e.col) * un + static_cast<std::size_t>(e.row)] += e.weight;
  }
  return lpi_of_column_major(n, matrix, tol);
}

Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol) {
  if (n < 0) throw InvalidInput("a graph cannot have a negative node count");
  if (n == 0) return {};
  check_dense_matrix_fits(n);
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> matrix(un * un, 0.0);
  for (const MatrixEntry& e : edges) {
    check_entry(n, e);
    const auto r = static_cast<std::size_t>(e.row);
    const auto c = static_cast<std::size_t>(e.col);
    matrix[c * un + r] += e.weight;
    if (r != c) matrix[r * un + c] += e.weight;
  }
  return lpi_of_column_major(n, matrix, tol);
}

}  // namespace tessarin::counts
