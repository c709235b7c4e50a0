#include "counts/lpi.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include "core/band_matrix.h"
#include "core/errors.h"
#include "core/symmetric_eigen.h"
#include "counts/band_ordering.h"

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

Lpi dense_lpi(int n, std::span<const MatrixEntry> lower, double tol) {
  check_dense_matrix_fits(n);
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<double> matrix(un * un, 0.0);
  for (const MatrixEntry& e : lower)
    matrix[static_cast<std::size_t>(e.col) * un + static_cast<std::size_t>(e.row)] += e.weight;
  return lpi_of_column_major(n, matrix, tol);
}

// The band path: the renumbered matrix falls into consecutive groups of nodes
// that no entry links to one another (the connected components, as the
// ordering lists them); each group's band is solved on its own.
Lpi band_lpi(int n, std::span<const MatrixEntry> lower, const BandOrdering& ordering, double tol) {
  check_band_matrix_fits(n, ordering.bandwidth);
  const auto un = static_cast<std::size_t>(n);
  const std::vector<int>& pos = ordering.position;
  // reach[p]: the farthest position that an entry links position p to.
  std::vector<int> reach(un);
  for (std::size_t p = 0; p < un; ++p) reach[p] = static_cast<int>(p);
  for (const MatrixEntry& e : lower) {
    const int a = pos[static_cast<std::size_t>(e.row)];
    const int b = pos[static_cast<std::size_t>(e.col)];
    auto& r = reach[static_cast<std::size_t>(std::min(a, b))];
    r = std::max(r, std::max(a, b));
  }
  // group_of[p] and the groups' first positions.
  std::vector<int> group_of(un);
  std::vector<int> first{0};
  int end = 0;
  for (int p = 0; p < n; ++p) {
    end = std::max(end, reach[static_cast<std::size_t>(p)]);
    group_of[static_cast<std::size_t>(p)] = static_cast<int>(first.size()) - 1;
    if (end == p) first.push_back(p + 1);
  }
  const std::size_t groups = first.size() - 1;
  // Entries bucketed by group, in their given order (so sums add up as on the dense path).
  std::vector<int> bucket(groups + 1, 0);
  std::vector<int> width(groups, 0);
  for (const MatrixEntry& e : lower) {
    const int a = pos[static_cast<std::size_t>(e.row)];
    const int b = pos[static_cast<std::size_t>(e.col)];
    const auto g = static_cast<std::size_t>(group_of[static_cast<std::size_t>(a)]);
    ++bucket[g + 1];
    width[g] = std::max(width[g], std::abs(a - b));
  }
  for (std::size_t g = 0; g < groups; ++g) bucket[g + 1] += bucket[g];
  std::vector<const MatrixEntry*> sorted(lower.size());
  {
    std::vector<int> fill(bucket.begin(), bucket.end() - 1);
    for (const MatrixEntry& e : lower) {
      const auto g = static_cast<std::size_t>(group_of[static_cast<std::size_t>(pos[static_cast<std::size_t>(e.row)])]);
      sorted[static_cast<std::size_t>(fill[g]++)] = &e;
    }
  }

  Lpi out;
  out.eigenvalues.reserve(un);
  thread_local core::BandEigenSolver solver;
  core::SymmetricBand band;
  std::vector<double> values;
  for (std::size_t g = 0; g < groups; ++g) {
    const int base = first[g];
    const int size = first[g + 1] - base;
    if (size == 1) {  // a lone node: its diagonal entry
      double x = 0.0;
      for (int k = bucket[g]; k < bucket[g + 1]; ++k) x += sorted[static_cast<std::size_t>(k)]->weight;
      out.eigenvalues.push_back(x);
      continue;
    }
    band.reset(size, std::min(width[g], size - 1));
    for (int k = bucket[g]; k < bucket[g + 1]; ++k) {
      const MatrixEntry& e = *sorted[static_cast<std::size_t>(k)];
      const int a = pos[static_cast<std::size_t>(e.row)] - base;
      const int b = pos[static_cast<std::size_t>(e.col)] - base;
      band.lower(std::max(a, b), std::min(a, b)) += e.weight;
    }
    solver.eigenvalues(band, values);
    out.eigenvalues.insert(out.eigenvalues.end(), values.begin(), values.end());
  }
  std::sort(out.eigenvalues.begin(), out.eigenvalues.end());
  out.counts = count_signs(out.eigenvalues, tol);
  return out;
}

BandOrdering ordering_of(int n, std::span<const MatrixEntry> lower) {
  std::vector<std::pair<int, int>> pairs;
  pairs.reserve(lower.size());
  for (const MatrixEntry& e : lower) pairs.emplace_back(e.row, e.col);
  return band_ordering(SparsePattern::from_pairs(n, pairs));
}

// The LPI of the lower-triangle entries (row >= col, all checked), on the
// given path or the one chosen.
Lpi lpi_of_lower(int n, std::span<const MatrixEntry> lower, double tol, std::optional<EigenPath> path) {
  if (n == 0) return {};
  if (path == EigenPath::dense || (!path && n < kMinBandNodes)) return dense_lpi(n, lower, tol);
  const BandOrdering ordering = ordering_of(n, lower);
  if (!path && eigen_path(n, ordering.bandwidth) == EigenPath::dense) return dense_lpi(n, lower, tol);
  return band_lpi(n, lower, ordering, tol);
}

std::vector<MatrixEntry> checked_lower_entries(int n, std::span<const MatrixEntry> entries) {
  if (n < 0) throw InvalidInput("a graph cannot have a negative node count");
  std::vector<MatrixEntry> lower;
  lower.reserve(entries.size());
  for (const MatrixEntry& e : entries) {
    check_entry(n, e);
    if (e.row >= e.col) lower.push_back(e);
  }
  return lower;
}

std::vector<MatrixEntry> checked_edge_entries(int n, std::span<const MatrixEntry> edges) {
  if (n < 0) throw InvalidInput("a graph cannot have a negative node count");
  std::vector<MatrixEntry> lower;
  lower.reserve(edges.size());
  for (const MatrixEntry& e : edges) {
    check_entry(n, e);
    lower.push_back({std::max(e.row, e.col), std::min(e.row, e.col), e.weight});
  }
  return lower;
}

}  // namespace

namespace {

constexpr double kAlwaysFine = 256.0 * 1024 * 1024;

double dense_bytes(long long n) { return static_cast<double>(n) * static_cast<double>(n) * sizeof(double); }

}  // namespace

bool dense_matrix_fits(long long n) {
  const double bytes = dense_bytes(n);
  return bytes <= kAlwaysFine || bytes <= available_memory_bytes();
}

void check_dense_matrix_fits(long long n) {
  const double bytes = dense_bytes(n);
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

EigenPath eigen_path(long long n, long long bandwidth) {
  return n >= kMinBandNodes && 8 * bandwidth <= n ? EigenPath::band : EigenPath::dense;
}

void check_band_matrix_fits(long long n, long long bandwidth) {
  const double bytes = core::SymmetricBand::storage_bytes(n, bandwidth);
  if (bytes <= kAlwaysFine) return;
  const double available = available_memory_bytes();
  if (bytes <= available) return;
  throw InsufficientMemory("the graph is too large for its LPI: " + std::to_string(n) + " nodes of bandwidth " +
                           std::to_string(bandwidth) + " need a band matrix of " + gigabytes(bytes) +
                           ", more than the " + gigabytes(available) + " of memory available");
}

Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol) {
  return lpi_of_lower(n, checked_lower_entries(n, entries), tol, std::nullopt);
}

Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol) {
  return lpi_of_lower(n, checked_edge_entries(n, edges), tol, std::nullopt);
}

Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol, EigenPath path) {
  return lpi_of_lower(n, checked_lower_entries(n, entries), tol, path);
}

Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol, EigenPath path) {
  return lpi_of_lower(n, checked_edge_entries(n, edges), tol, path);
}

}  // namespace tessarin::counts
