#include "ms/core_memo.h"

#include <algorithm>
#include <cstring>

namespace tessarin::ms {
namespace {

template <typename T>
void append_bytes(std::string& out, const T& value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

}  // namespace

vif::LpiCounts MemoCoreCounter::count(const CoreBlock& block, double tol) {
  // tol, node count, then (row, col, weight) of every entry: the matrix
  // itself. The block is canonical (nodes ascending, entries sorted), so
  // equal blocks give equal keys, and so do blocks of other nodes whose
  // matrices are equal entry for entry; weights compare by their bits.
  key_.clear();
  key_.reserve(sizeof(double) + sizeof(std::size_t) + block.entries.size() * (2 * sizeof(int) + sizeof(double)));
  append_bytes(key_, tol);
  append_bytes(key_, block.nodes.size());
  for (const vif::MatrixEntry& e : block.entries) {
    append_bytes(key_, e.row);
    append_bytes(key_, e.col);
    append_bytes(key_, e.weight);
  }
  if (const auto it = memo_.find(key_); it != memo_.end()) {
    ++stats_.hits;
    return it->second;
  }
  const vif::LpiCounts counts = dense_.count(block, tol);
  ++stats_.solves;
  stats_.solved_nodes += static_cast<long long>(block.nodes.size());
  stats_.largest_solved = std::max(stats_.largest_solved, static_cast<int>(block.nodes.size()));
  memo_.emplace(key_, counts);
  return counts;
}

}  // namespace tessarin::ms
