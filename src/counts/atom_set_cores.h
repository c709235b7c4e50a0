// The core blocks of one atom set, and the counts of the blocks that the
// deletion of one edge from it leaves.
//
// Counting an atom set's intact subgraph peels it down to its core blocks;
// this counter records them. Every later count of the same atom set with one
// edge deleted peels again and hands over its own core blocks, which mostly
// are recorded blocks, or recorded blocks grown by the few nodes whose
// pendant partner the deletion took away. Such blocks are counted without a
// new factorisation:
//
//  - a deletion inside a recorded block B: the rank-two rule on B's inverse
//    (judge_deletion, see EdgeRemovalScreen);
//  - a block N made of a recorded block B and extra nodes X, with B's edges
//    unchanged: by Haynsworth's inertia additivity,
//        inertia(N) = inertia(B) + inertia(S),  S = D - E^T B^-1 E,
//    with E the edges from B to X and D those within X. S is |X| x |X|.
//    The sum stands for the thresholded counts only when no eigenvalue of N
//    can lie near zero: with Y = B^-1 E,
//        ||N^-1|| <= ||B^-1|| + (1 + ||Y||)^2 ||S^-1||
//    must stay below 1 / (1000 tol).
//
// Anything else goes to the memo (and a dense count on a miss), so the
// counts never depend on which shortcut answered.
#pragma once

#include <cstddef>
#include <vector>

#include "core/symmetric_eigen.h"
#include "counts/core_block_inverses.h"
#include "counts/core_memo.h"
#include "counts/edge_removal_screen.h"
#include "counts/inertia.h"

namespace tessarin::counts {

class AtomSetCores final : public CoreCounter {
 public:
  // Between begin_intact() and end_intact(), count() records the blocks it
  // is given: the core of a new atom set's intact subgraph in a graph of
  // `graph_nodes` nodes. Blocks counted later are judged against them.
  void begin_intact(std::size_t graph_nodes);

  // With the block rules off, every block goes to the memo and its dense
  // count, and judge_deletion() decides nothing. The owner turns them off
  // for graphs whose weights span a wide range: their blocks can be so badly
  // conditioned that the inverse's evidence is not to be trusted.
  void use_block_rules(bool on) { block_rules_ = on; }
  void end_intact();

  counts::LpiCounts count(const CoreBlock& block, double tol) override;

  // The rank-two verdict, against `tol`, on deleting the edge (u, v) of
  // weight `weight` when both ends lie in one recorded block with a usable
  // inverse and no eigenvalue near tol; undecided otherwise.
  EdgeRemovalScreen::Verdict judge_deletion(int u, int v, double weight, double tol);

  const CoreMemoStats& memo_stats() const { return memo_.stats(); }
  // Blocks counted as a recorded block plus extra nodes.
  long long extended() const { return extended_; }

 private:
  std::optional<counts::LpiCounts> count_intact(const CoreBlock& block, double tol);
  std::optional<counts::LpiCounts> count_extension(const CoreBlock& block, double tol);
  const BlockInverse* recorded_inverse(std::size_t b);

  MemoCoreCounter memo_;
  CoreBlockInverses inverses_;
  bool block_rules_ = true;
  bool recording_ = false;
  std::size_t recorded_ = 0;
  // Storage reused between atom sets; only the first recorded_ are current.
  std::vector<std::vector<int>> nodes_;
  std::vector<std::vector<counts::MatrixEntry>> entries_;
  std::vector<const BlockInverse*> inverse_;  // looked up on first use
  std::vector<char> looked_up_;
  // Per node of the graph: its recorded block and row there (-1: none).
  std::vector<int> node_block_;
  std::vector<int> node_row_;
  long long extended_ = 0;
  // count_extension() workspaces
  std::vector<int> extra_;  // per row of the new block: index among the extra nodes, -1 for a row of B
  std::vector<double> y_;   // B^-1 E, column-major, |B| x |X|
  std::vector<double> s_;   // S, column-major, |X| x |X|
  std::vector<double> mu_;  // eigenvalues of S
  struct ExtraEdge {
    int extra;  // index among the extra nodes
    int row;    // row in the recorded block
    double weight;
  };
  std::vector<ExtraEdge> extra_edges_;  // the edges E between B and the extra nodes
  core::SymmetricEigenSolver solver_;
};

}  // namespace tessarin::counts
