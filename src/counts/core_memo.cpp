#include "counts/core_memo.h"

#include <algorithm>
#include <cstring>

namespace tessarin::counts {
namespace {

template <typename T>
void append_bytes(std::string& out, const T& value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

}  // namespace

void append_block_key(std::string& key, const CoreBlock& block) {
  key.reserve(key.size() + sizeof(std::size_t) + block.entries.size() * (2 * sizeof(int) + sizeof(double)));
  append_bytes(key, block.nodes.size());
  for (const counts::MatrixEntry& e : block.entries) {
    append_bytes(key, e.row);
    append_bytes(key, e.col);
    append_bytes(key, e.weight);
  }
}

void MemoCoreCounter::make_key(const CoreBlock& block, double tol) {
  // tol, then the block's matrix. The block is canonical (nodes ascending,
  // entries sorted), so equal blocks give equal keys, and so do blocks of
  // other nodes whose matrices are equal entry for entry; weights compare by
  // their bits.
  key_.clear();
  append_bytes(key_, tol);
  append_block_key(key_, block);
}

void MemoCoreCounter::note_solve(const CoreBlock& block) {
  ++stats_.solves;
  stats_.solved_nodes += static_cast<long long>(block.nodes.size());
  stats_.largest_solved = std::max(stats_.largest_solved, static_cast<int>(block.nodes.size()));
}

std::optional<counts::LpiCounts> MemoCoreCounter::find(const CoreBlock& block, double tol) {
  make_key(block, tol);
  const auto it = memo_.find(key_);
  if (it == memo_.end()) return std::nullopt;
  ++stats_.hits;
  return it->second;
}

void MemoCoreCounter::remember(const CoreBlock& block, double tol, counts::LpiCounts counts, bool solved) {
  make_key(block, tol);
  if (memo_.emplace(key_, counts).second && solved) note_solve(block);
}

counts::LpiCounts MemoCoreCounter::count(const CoreBlock& block, double tol) {
  if (const std::optional<counts::LpiCounts> known = find(block, tol)) return *known;
  const counts::LpiCounts counts = dense_.count(block, tol);
  note_solve(block);
  memo_.emplace(key_, counts);
  return counts;
}

}  // namespace tessarin::counts
