// A core counter that remembers the counts of the peeled core blocks it has
// seen. Within one molecule, different atom sets and different removed bonds
// mostly peel down to the same few ring cores, so most counts become a
// lookup. The key is the block itself (node ids and weighted edges, exact
// bits) and the threshold, so a hit returns exactly what a dense count of
// that block returned before.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "counts/inertia.h"

namespace tessarin::counts {

// Appends the block's matrix to `key`: node count, then (row, col, weight)
// of every entry, weights by their bits. Equal keys mean equal matrices.
void append_block_key(std::string& key, const CoreBlock& block);

struct CoreMemoStats {
  long long hits = 0;          // blocks answered from the memo
  long long solves = 0;        // blocks counted densely (and remembered)
  int largest_solved = 0;      // node count of the largest block counted densely
  long long solved_nodes = 0;  // node counts of the blocks counted densely, summed
};

class MemoCoreCounter final : public CoreCounter {
 public:
  counts::LpiCounts count(const CoreBlock& block, double tol) override;

  // The remembered counts of the block, if any (a hit when found).
  std::optional<counts::LpiCounts> find(const CoreBlock& block, double tol);
  // Remembers counts the caller found another way; `solved` says whether
  // that was a factorisation of the block (a solve in the statistics).
  void remember(const CoreBlock& block, double tol, counts::LpiCounts counts, bool solved);

  const CoreMemoStats& stats() const { return stats_; }
  std::size_t size() const { return memo_.size(); }
  void clear() { memo_.clear(); }

 private:
  DenseCoreCounter dense_;
  std::unordered_map<std::string, counts::LpiCounts> memo_;
  void make_key(const CoreBlock& block, double tol);
  void note_solve(const CoreBlock& block);

  std::string key_;
  CoreMemoStats stats_;
};

}  // namespace tessarin::counts
