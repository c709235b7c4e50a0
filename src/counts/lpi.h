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
// does, so a symmetric input should list both (i, j) and (j, i). The path is
// eigen_path() of the renumbered lower triangle's bandwidth; the band path
// solves each group of nodes that no entry links to the rest on its own.
// Throws IndexOutOfRange for an entry outside the matrix, InvalidInput for a
// non-finite weight, InsufficientMemory when the chosen path's storage would
// not fit.
Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol);

// How the eigenvalues of a graph's matrix are computed: LAPACK's dense
// solver (dsyevd, NumPy's digits), or, for a large graph whose nodes can be
// numbered so that every edge joins nearby numbers, the band solver (dsbevd)
// on the matrix renumbered by band_ordering(), in O(n * bandwidth) memory and
// O(n^2 * bandwidth) time instead of O(n^2) and O(n^3). The two agree to
// rounding (about 1e-13 on orbital graphs).
enum class EigenPath { dense, band };

// Graphs below this many nodes always take the dense path: it costs them
// little (a tenth of a second at 500 nodes) and gives NumPy's digits.
inline constexpr int kMinBandNodes = 500;

// The path for a graph of n nodes whose renumbered matrix has this bandwidth:
// band from kMinBandNodes nodes on while the bandwidth is at most an eighth
// of n (there the band solver took between 2 and 60 times less time than the
// dense one in measurements from 400 to 1,600 nodes; at a quarter of n the
// two come close).
EigenPath eigen_path(long long n, long long bandwidth);

// Throws InsufficientMemory when the dense n x n matrix that the LPI of a
// graph of n nodes needs would not fit in the memory available now
// (MemAvailable on Linux, the physical memory elsewhere), instead of letting
// the allocation fail or the system's out-of-memory killer end the process.
// Matrices up to a few hundred megabytes are never refused.
void check_dense_matrix_fits(long long n);
// The same test without the exception.
bool dense_matrix_fits(long long n);

// The same for band storage of n columns of bandwidth + 1 entries.
void check_band_matrix_fits(long long n, long long bandwidth);

// LPI of an undirected graph on nodes 0..n-1 given as weighted edges; each
// edge (u, v, w) fills both (u, v) and (v, u) (a self-loop fills (u, u) once).
Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol);

// The same two on the path given rather than chosen (tests, benchmarks).
Lpi lpi_of_entries(int n, std::span<const MatrixEntry> entries, double tol, EigenPath path);
Lpi lpi_of_undirected_edges(int n, std::span<const MatrixEntry> edges, double tol, EigenPath path);

}  // namespace tessarin::counts
