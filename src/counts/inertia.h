// Count-only LPI: the numbers of positive, zero and negative eigenvalues of a
// graph's adjacency matrix, without the eigenvalues themselves.
//
// Two ways to the same counts:
//  - dense: build the matrix, take its eigenvalues (LAPACK dsyevd, as
//    compute_lpi does) and classify them against `tol`; a large graph that
//    is narrow once renumbered is counted in band storage (BandCounter),
//    with the same counts;
//  - peeled: exact reduction by Sylvester's law of inertia first. A node u
//    with zero diagonal and exactly one neighbour v (edge weight w != 0)
//    forms with v a 2x2 block of determinant -w^2 < 0, and the Schur
//    complement update of that block on the rest of the graph is zero, so
//    inertia(G) = inertia(G - u - v) + (1, 0, 1). An isolated node adds
//    (0, 1, 0), and connected components add up. Peeling pendant pairs
//    (every hydrogen starts one) removes whole acyclic parts; only the ring
//    cores are left, and each connected core block is counted densely (in
//    band storage when it is large and narrow).
//
// The peeled counts are exact inertia while the dense ones classify computed
// eigenvalues against `tol`; the two agree when no eigenvalue lies near the
// threshold. peeling_applies() guards the zero side (exact zeros stay far
// below tol); no cheap test guards the other: a nearly singular graph, whose
// smallest non-zero eigenvalue is below tol, keeps that eigenvalue in the
// peeled count and loses it to n0 in the dense one. The dense path is the
// reference the peeled one is tested and benchmarked against.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/shifted_inertia.h"
#include "core/symmetric_eigen.h"
#include "counts/band_counts.h"
#include "counts/index_graph.h"
#include "counts/lpi.h"

namespace tessarin::counts {

enum class CountMethod {
  automatic,  // peeled where peeling_applies(), dense otherwise
  dense,      // eigenvalues of the whole (sub)graph
  peeled,     // pendant-pair peeling, dense count of the remaining core only
};

// True when the peeled count may stand in for the dense one: no self-loops
// (peeling needs a zero diagonal), 0 < tol <= 1e-6 with tol at least 1e-12
// times the largest weight magnitude, and every non-zero edge weight of
// magnitude within [1e-3, 1e3], so that exact zero eigenvalues stay far below
// tol in the dense computation and non-zero ones, for the usual weights,
// far above it (see above for the graphs where they do not).
bool peeling_applies(const IndexGraph& graph, double tol);

// Throws InsufficientMemory when a dense-method count of the whole graph
// could not fit in memory: band storage for a graph that takes the band
// path (BandCounter), the dense matrix otherwise.
void check_whole_graph_count_fits(const IndexGraph& graph);

// One connected block of a peeled core, in canonical form: global node ids
// ascending, and the block's edges as (row, col, weight) in local indices
// with row > col, sorted by row then col. Equal node sets with equal
// weighted edges give equal blocks, so a block can key a memo.
struct CoreBlock {
  std::span<const int> nodes;
  std::span<const counts::MatrixEntry> entries;
};

// Counts the eigenvalue signs of one core block.
class CoreCounter {
 public:
  virtual ~CoreCounter() = default;
  virtual counts::LpiCounts count(const CoreBlock& block, double tol) = 0;
};

// The dense count of a block, with reusable buffers. For tol > 0 it takes
// the counts from two symmetric factorisations (shifted by -tol and +tol)
// instead of the eigenvalues; the classes are the same up to rounding at
// exactly +-tol. A large block that is narrow once renumbered is counted in
// band storage instead (BandCounter: the same counts, O(n * bandwidth^2)).
class DenseCoreCounter final : public CoreCounter {
 public:
  counts::LpiCounts count(const CoreBlock& block, double tol) override;

 private:
  BandCounter band_;
  core::SymmetricEigenSolver solver_;
  core::ShiftedInertia inertia_;
  std::vector<double> matrix_;
  std::vector<double> values_;
};

// Sizes seen by the last peeled count, for benchmarks and tests.
struct PeelStats {
  int active_nodes = 0;  // nodes of the (sub)graph counted
  int core_nodes = 0;    // nodes left for the dense count after peeling
  int core_blocks = 0;   // connected blocks among them
};

// Reusable count-only engine. Keeps its workspaces between calls, so one
// instance serves many tests on graphs of similar size. Not thread-safe.
class InertiaCounter {
 public:
  // `core` counts the peeled core blocks; null means an owned DenseCoreCounter.
  // A caller-supplied counter must outlive this engine (and its copies).
  explicit InertiaCounter(CoreCounter* core = nullptr) : external_core_(core) {}

  // Counts of the whole graph with the edges `removed` (edge ids) left out.
  counts::LpiCounts count(const IndexGraph& graph, std::span<const std::size_t> removed, double tol,
                          CountMethod method = CountMethod::automatic);

  // Counts of the subgraph induced by `nodes` (each a node of the graph,
  // none twice) with the edges `removed` left out. The dense path builds its
  // matrix with rows in the order of `nodes`.
  counts::LpiCounts count_induced(const IndexGraph& graph, std::span<const int> nodes,
                                  std::span<const std::size_t> removed, double tol,
                                  CountMethod method = CountMethod::automatic);

  const PeelStats& last_peel() const { return stats_; }

 private:
  counts::LpiCounts run(const IndexGraph& graph, const int* nodes, std::size_t node_count,
                        std::span<const std::size_t> removed, double tol, CountMethod method);
  counts::LpiCounts dense(const IndexGraph& graph, const int* nodes, std::size_t node_count, double tol);
  counts::LpiCounts peeled(const IndexGraph& graph, double tol);
  // An edge takes part in the peeled count when it is non-zero, not left
  // out, and its other end is still in the graph.
  bool active(int id, double weight, int other) const {
    return weight != 0.0 && edge_off_[static_cast<std::size_t>(id)] == 0 &&
           alive_[static_cast<std::size_t>(other)] != 0;
  }

  CoreCounter& core() { return external_core_ != nullptr ? *external_core_ : own_core_; }

  CoreCounter* external_core_;
  DenseCoreCounter own_core_;
  PeelStats stats_;
  core::SymmetricEigenSolver solver_;
  BandCounter band_;
  std::vector<counts::MatrixEntry> lower_;
  // Workspaces, sized to the graph on each call.
  std::vector<char> alive_;
  std::vector<char> edge_off_;
  std::vector<int> degree_;
  std::vector<int> local_;
  std::vector<int> stack_;
  std::vector<int> block_nodes_;
  std::vector<counts::MatrixEntry> block_entries_;
  std::vector<double> matrix_;
  std::vector<double> values_;
};

}  // namespace tessarin::counts
