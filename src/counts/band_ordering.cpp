#include "counts/band_ordering.h"

#include <algorithm>
#include <cstdlib>

namespace tessarin::counts {
namespace {

// Breadth-first levels from one node, within the nodes not yet ordered.
class LevelSearch {
 public:
  explicit LevelSearch(const SparsePattern& p) : p_(p), stamp_(static_cast<std::size_t>(p.n), 0) {}

  // Visits the component of `root`; returns its eccentricity and leaves the
  // nodes of the last level in last().
  int run(int root) {
    ++round_;
    queue_.assign(1, root);
    stamp_[static_cast<std::size_t>(root)] = round_;
    std::size_t level_begin = 0;
    int depth = 0;
    while (true) {
      const std::size_t level_end = queue_.size();
      for (std::size_t i = level_begin; i < level_end; ++i) {
        const int u = queue_[i];
        for (int s = p_.offset[static_cast<std::size_t>(u)]; s < p_.offset[static_cast<std::size_t>(u) + 1]; ++s) {
          const int v = p_.neighbour[static_cast<std::size_t>(s)];
          if (stamp_[static_cast<std::size_t>(v)] == round_) continue;
          stamp_[static_cast<std::size_t>(v)] = round_;
          queue_.push_back(v);
        }
      }
      if (queue_.size() == level_end) {
        last_begin_ = level_begin;
        return depth;
      }
      level_begin = level_end;
      ++depth;
    }
  }

  std::span<const int> component() const { return queue_; }
  std::span<const int> last() const { return std::span<const int>(queue_).subspan(last_begin_); }

 private:
  const SparsePattern& p_;
  std::vector<int> stamp_;
  int round_ = 0;
  std::vector<int> queue_;
  std::size_t last_begin_ = 0;
};

// The node of least degree, ties to the smaller id.
int least_degree(const SparsePattern& p, std::span<const int> nodes) {
  int best = nodes.front();
  for (int v : nodes) {
    if (p.degree(v) < p.degree(best) || (p.degree(v) == p.degree(best) && v < best)) best = v;
  }
  return best;
}

}  // namespace

SparsePattern SparsePattern::from_pairs(int n, std::span<const std::pair<int, int>> pairs) {
  SparsePattern p;
  p.n = n;
  const auto un = static_cast<std::size_t>(n);
  std::vector<int> count(un + 1, 0);
  for (const auto& [i, j] : pairs) {
    if (i == j) continue;
    ++count[static_cast<std::size_t>(i)];
    ++count[static_cast<std::size_t>(j)];
  }
  std::vector<int> start(un + 1, 0);
  for (std::size_t u = 0; u < un; ++u) start[u + 1] = start[u] + count[u];
  std::vector<int> slots(static_cast<std::size_t>(start[un]));
  std::vector<int> fill(start.begin(), start.end() - 1);
  for (const auto& [i, j] : pairs) {
    if (i == j) continue;
    slots[static_cast<std::size_t>(fill[static_cast<std::size_t>(i)]++)] = j;
    slots[static_cast<std::size_t>(fill[static_cast<std::size_t>(j)]++)] = i;
  }
  // Sort and drop repeats, compacting in place.
  p.offset.assign(un + 1, 0);
  p.neighbour.clear();
  p.neighbour.reserve(slots.size());
  for (std::size_t u = 0; u < un; ++u) {
    const auto b = slots.begin() + start[u];
    const auto e = slots.begin() + start[u + 1];
    std::sort(b, e);
    const auto last = std::unique(b, e);
    p.neighbour.insert(p.neighbour.end(), b, last);
    p.offset[u + 1] = static_cast<int>(p.neighbour.size());
  }
  return p;
}

int bandwidth_under(const SparsePattern& pattern, std::span<const int> position) {
  int width = 0;
  for (int u = 0; u < pattern.n; ++u) {
    const int pu = position[static_cast<std::size_t>(u)];
    for (int s = pattern.offset[static_cast<std::size_t>(u)]; s < pattern.offset[static_cast<std::size_t>(u) + 1];
         ++s) {
      width = std::max(
          width, std::abs(pu - position[static_cast<std::size_t>(pattern.neighbour[static_cast<std::size_t>(s)])]));
    }
  }
  return width;
}

BandOrdering band_ordering(const SparsePattern& pattern) {
  const int n = pattern.n;
  const auto un = static_cast<std::size_t>(n);
  BandOrdering given;
  given.position.resize(un);
  given.order.resize(un);
  for (int u = 0; u < n; ++u)
    given.position[static_cast<std::size_t>(u)] = given.order[static_cast<std::size_t>(u)] = u;
  given.bandwidth = bandwidth_under(pattern, given.position);
  if (given.bandwidth <= 1) return given;  // nothing narrower exists

  BandOrdering rcm;
  rcm.order.reserve(un);
  std::vector<char> placed(un, 0);
  LevelSearch levels(pattern);
  std::vector<int> found;
  for (int first = 0; first < n; ++first) {
    if (placed[static_cast<std::size_t>(first)] != 0) continue;
    // A pseudo-peripheral start: move to a least-degree node of the last
    // level while that lengthens the eccentricity.
    levels.run(first);
    int root = least_degree(pattern, levels.component());
    int depth = levels.run(root);
    while (true) {
      const int candidate = least_degree(pattern, levels.last());
      const int candidate_depth = levels.run(candidate);
      if (candidate_depth <= depth) break;
      root = candidate;
      depth = candidate_depth;
    }

    // Cuthill-McKee from the root, then the component's sequence reversed.
    const std::size_t begin = rcm.order.size();
    rcm.order.push_back(root);
    placed[static_cast<std::size_t>(root)] = 1;
    for (std::size_t i = begin; i < rcm.order.size(); ++i) {
      const int u = rcm.order[i];
      found.clear();
      for (int s = pattern.offset[static_cast<std::size_t>(u)]; s < pattern.offset[static_cast<std::size_t>(u) + 1];
           ++s) {
        const int v = pattern.neighbour[static_cast<std::size_t>(s)];
        if (placed[static_cast<std::size_t>(v)] != 0) continue;
        placed[static_cast<std::size_t>(v)] = 1;
        found.push_back(v);
      }
      std::sort(found.begin(), found.end(), [&pattern](int a, int b) {
        return pattern.degree(a) != pattern.degree(b) ? pattern.degree(a) < pattern.degree(b) : a < b;
      });
      rcm.order.insert(rcm.order.end(), found.begin(), found.end());
    }
    std::reverse(rcm.order.begin() + static_cast<std::ptrdiff_t>(begin), rcm.order.end());
  }
  rcm.position.resize(un);
  for (std::size_t k = 0; k < un; ++k) rcm.position[static_cast<std::size_t>(rcm.order[k])] = static_cast<int>(k);
  rcm.bandwidth = bandwidth_under(pattern, rcm.position);
  return rcm.bandwidth < given.bandwidth ? rcm : given;
}

}  // namespace tessarin::counts
