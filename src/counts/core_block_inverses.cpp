#include "counts/core_block_inverses.h"

#include <cmath>

#include "core/symmetric_inverse.h"
#include "counts/core_memo.h"
#include "counts/edge_removal_screen.h"

namespace tessarin::counts {

std::optional<counts::LpiCounts> BlockInverse::counts(double tol) const {
  if (inverse.empty() || !(tol >= 0.0) || !(min_abs_eigenvalue > EdgeRemovalScreen::kClearMargin * tol))
    return std::nullopt;
  counts::LpiCounts c;
  c.n_plus = positive;
  c.n_minus = negative;
  return c;
}

const BlockInverse* CoreBlockInverses::inverse(const CoreBlock& block) {
  const std::size_t n = block.nodes.size();
  if (n == 0 || n > static_cast<std::size_t>(EdgeRemovalScreen::kMaxInverseNodes)) return nullptr;
  key_.clear();
  append_block_key(key_, block);
  auto [it, inserted] = cache_.try_emplace(key_);
  BlockInverse& entry = it->second;
  if (inserted) {
    ++inversions_;
    std::vector<double> a(n * n, 0.0);
    for (const counts::MatrixEntry& e : block.entries) {
      a[static_cast<std::size_t>(e.col) * n + static_cast<std::size_t>(e.row)] += e.weight;
      a[static_cast<std::size_t>(e.row) * n + static_cast<std::size_t>(e.col)] += e.weight;
    }
    core::ShiftSplit signs;
    if (core::invert_symmetric(static_cast<int>(n), a, EdgeRemovalScreen::kMinRcond, &signs) &&
        signs.above + signs.below == static_cast<int>(n)) {
      double frobenius = 0.0;
      for (double x : a) frobenius += x * x;
      frobenius = std::sqrt(frobenius);
      if (std::isfinite(frobenius) && frobenius > 0.0) {
        entry.inverse = std::move(a);
        entry.positive = signs.above;
        entry.negative = signs.below;
        entry.min_abs_eigenvalue = 1.0 / frobenius;
      }
    }
  }
  return entry.inverse.empty() ? nullptr : &entry;
}

}  // namespace tessarin::counts
