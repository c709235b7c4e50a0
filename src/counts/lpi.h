// LPI: the numbers of positive, zero and negative eigenvalues of a graph's
// weighted adjacency matrix.
#pragma once

#include <span>
#include <vector>

namespace tessarin::counts {

struct LpiCounts {
  int n_plus = 0;
  int n_zero = 0;
  int n_minus = 0;

  int total() const { return n_plus + n_zero + n_minus; }
  bool operator==(const LpiCounts&) const = default;
};

struct Lpi {
  LpiCounts counts;
  std::vector<double> eigenvalues;  // ascending
};

// One entry of a weighted adjacency matrix: `weight` is added at (row, col).
struct MatrixEntry {
  int row = 0;
  int col = 0;
  double weight = 0.0;
};

// Count eigenvalues > tol, with |x| <= tol, and < -tol. For tol >= 0 the
// three counts partition the eigenvalues.
LpiCounts count_signs(std::span<const double> eigenvalues, double tol);

// LPI of the n x n matrix made by summing `entries` into a zero matrix. The
// eigen-solver reads the lower triangle (row >= col), as NumPy's eigvalsh
// does, so a symmetric input should list both (i, j) and (j, i). Throws
// IndexOutOfRange for an entry outside the matrix, InvalidInput for a
// non-finite weight.
Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol);

// Throws InsufficientMemory when the dense n x n matrix that the LPI of a
// graph of n nodes needs would not fit in the memory available now
// (MemAvailable on Linux, the physical memory elsewhere), instead of letting
// the allocation fail or the system's out-of-memory killer end the process.
// Matrices up to a few hundred megabytes are never refused.
void check_dense_matrix_fits(long long n);

// LPI of an undirected graph on nodes 0..n-1 given as weighted edges; each
// edge (u, v, w) fills both (u, v) and (v, u) (a self-loop fills (u, u) once).
Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol);

}  // namespace tessarin::counts
