// A core counter that remembers the counts of the peeled core blocks it has
// seen. Within one molecule, different atom sets and different removed bonds
// mostly peel down to the same few ring cores, so most counts become a
// lookup. The key is the block itself (node ids and weighted edges, exact
// bits) and the threshold, so a hit returns exactly what a dense count of
// that block returned before.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "ms/inertia.h"

namespace tessarin::ms {

struct CoreMemoStats {
  long long hits = 0;         // blocks answered from the memo
  long long solves = 0;       // blocks counted densely (and remembered)
  int largest_solved = 0;     // node count of the largest block counted densely
  long long solved_nodes = 0; // node counts of the blocks counted densely, summed
};

class MemoCoreCounter final : public CoreCounter {
 public:
  vif::LpiCounts count(const CoreBlock& block, double tol) override;

  const CoreMemoStats& stats() const { return stats_; }
  std::size_t size() const { return memo_.size(); }
  void clear() { memo_.clear(); }

 private:
  DenseCoreCounter dense_;
  std::unordered_map<std::string, vif::LpiCounts> memo_;
  std::string key_;
  CoreMemoStats stats_;
};

}  // namespace tessarin::ms
