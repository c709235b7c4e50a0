#include "layout/refinement.h"

#include <GraphMol/ROMol.h>
#include <GraphMol/new_canon.h>

#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <numbers>
#include <numeric>
#include <string>
#include <unordered_map>

#include "core/errors.h"
#include "core/symmetric_eigen.h"

namespace tessarin::layout {

double floored_mod(double x, double m) {
  double r = std::fmod(x, m);
  if (r != 0.0) {
    if ((m < 0.0) != (r < 0.0)) r += m;
  } else {
    r = std::copysign(0.0, m);
  }
  return r;
}

double angle_diff(double a, double b) {
  constexpr double pi = std::numbers::pi;
  const double d = floored_mod(a - b + pi, 2.0 * pi) - pi;
  return std::fabs(d);
}

std::vector<int> symmetry_classes(const RDKit::ROMol& mol) {
  const unsigned n = mol.getNumAtoms();
  std::vector<int> classes(n);
  try {
    std::vector<unsigned int> ranks;
    RDKit::Canon::rankMolAtoms(mol, ranks, /*breakTies=*/false);
    if (ranks.size() == n) {
      for (unsigned i = 0; i < n; ++i) classes[i] = static_cast<int>(ranks[i]);
      return classes;
    }
  } catch (const std::exception&) {
    // Unrankable molecule: fall through to one class per atom.
  }
  std::iota(classes.begin(), classes.end(), 0);
  return classes;
}

std::vector<std::vector<int>> symmetry_groups(std::span<const int> ranks) {
  std::vector<std::vector<int>> groups;
  std::unordered_map<int, std::size_t> slot_of;  // class value -> its group, numbered in first-seen order
  for (std::size_t i = 0; i < ranks.size(); ++i) {
    const auto [it, inserted] = slot_of.try_emplace(ranks[i], groups.size());
    if (inserted) groups.emplace_back();
    groups[it->second].push_back(static_cast<int>(i));
  }
  return groups;
}

double pairwise_sum(std::span<const double> a) {
  const std::size_t n = a.size();
  if (n < 8) {
    double res = 0.0;
    for (double v : a) res += v;
    return res;
  }
  if (n <= 128) {
    double r[8];
    for (std::size_t k = 0; k < 8; ++k) r[k] = a[k];
    std::size_t i = 8;
    for (; i < n - (n % 8); i += 8) {
      for (std::size_t k = 0; k < 8; ++k) r[k] += a[i + k];
    }
    double res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
    for (; i < n; ++i) res += a[i];
    return res;
  }
  std::size_t n2 = n / 2;
  n2 -= n2 % 8;
  return pairwise_sum(a.first(n2)) + pairwise_sum(a.subspan(n2));
}

void radial_equalize(std::span<Point2> coords, std::span<const std::vector<int>> groups) {
  const std::size_t n = coords.size();
  for (const auto& members : groups) {
    for (int m : members) {
      if (m < 0 || static_cast<std::size_t>(m) >= n) {
        throw IndexOutOfRange("atom index " + std::to_string(m) + " is out of range for a layout of " +
                              std::to_string(n) + " rows");
      }
    }
  }
  std::vector<double> dists;
  for (const auto& members : groups) {
    const std::size_t k = members.size();
    if (k < 2) continue;
    // Column means, summed row after row.
    double sx = 0.0, sy = 0.0;
    for (int m : members) {
      sx += coords[m].x;
      sy += coords[m].y;
    }
    const double count = static_cast<double>(k);
    const Point2 centroid{sx / count, sy / count};
    dists.resize(k);
    for (std::size_t i = 0; i < k; ++i) {
      const double dx = coords[members[i]].x - centroid.x;
      const double dy = coords[members[i]].y - centroid.y;
      dists[i] = std::sqrt(dx * dx + dy * dy);
    }
    const double avg = pairwise_sum(dists) / count;
    if (avg < 1e-9) continue;
    for (int m : members) {
      const double vx = coords[m].x - centroid.x;
      const double vy = coords[m].y - centroid.y;
      const double length = std::sqrt(vx * vx + vy * vy);
      if (length > 1e-9) {
        const double scale = avg / length;
        coords[m] = Point2{centroid.x + vx * scale, centroid.y + vy * scale};
      }
    }
  }
}

std::vector<Point2> pca_align(std::span<Point2> coords) {
  const std::size_t n = coords.size();
  for (const Point2& p : coords) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      throw InvalidInput("coordinates must be finite numbers");
    }
  }
  if (n == 0) return {};
  const double count = static_cast<double>(n);
  double sx = 0.0, sy = 0.0;
  for (const Point2& p : coords) {
    sx += p.x;
    sy += p.y;
  }
  const Point2 mean{sx / count, sy / count};
  for (Point2& p : coords) p = Point2{p.x - mean.x, p.y - mean.y};
  if (n < 2) return {coords.begin(), coords.end()};

  // Sample covariance of x and y: centre once more, then sums of products,
  // each summed from the first row to the last and scaled by 1 / (n - 1).
  sx = 0.0;
  sy = 0.0;
  for (const Point2& p : coords) {
    sx += p.x;
    sy += p.y;
  }
  const double ax = sx / count, ay = sy / count;
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (const Point2& p : coords) {
    const double dx = p.x - ax, dy = p.y - ay;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
  }
  const double scale = 1.0 / (count - 1.0);
  std::vector<double> cov{sxx * scale, sxy * scale, sxy * scale, syy * scale};  // column-major
  std::vector<double> eigenvalues;
  core::SymmetricEigenSolver solver;
  solver.eigenvectors(2, cov, eigenvalues);

  // Columns by descending eigenvalue: LAPACK returns them ascending (equal
  // values keep their order before the reversal), so the second comes first.
  double r00 = cov[2], r10 = cov[3];  // major axis
  double r01 = cov[0], r11 = cov[1];  // minor axis
  if (r00 * r11 - r01 * r10 < 0.0) {
    r01 = -r01;
    r11 = -r11;
  }
  std::vector<Point2> rotated(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Point2 p = coords[i];
    rotated[i] = Point2{p.x * r00 + p.y * r10, p.x * r01 + p.y * r11};
  }
  return rotated;
}

void enforce_mirror(std::span<Point2> coords, std::span<const int> ranks, int axis, double eps,
                    const core::InterruptCheck& poll) {
  if (axis != 0 && axis != 1) {
    throw InvalidInput("axis must be 0 (mirror x -> -x) or 1 (mirror y -> -y), not " + std::to_string(axis));
  }
  const std::size_t n = coords.size();
  if (ranks.size() != n) {
    throw InvalidInput("ranks has " + std::to_string(ranks.size()) + " entries for " + std::to_string(n) +
                       " coordinate rows");
  }
  const int other = 1 - axis;
  std::vector<char> matched(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (std::fabs(component(coords[i], axis)) < eps) {
      component(coords[i], axis) = 0.0;
      matched[i] = 1;
    }
  }
  // Candidates of a row are the rows of its class, ascending: the scan of
  // every row in order, with the others skipped, sees them in the same order.
  const std::vector<std::vector<int>> classes = symmetry_groups(ranks);
  std::vector<std::size_t> class_of(n);
  for (std::size_t g = 0; g < classes.size(); ++g)
    for (int member : classes[g]) class_of[static_cast<std::size_t>(member)] = g;
  for (std::size_t i = 0; i < n; ++i) {
    if (matched[i]) continue;
    core::poll(poll);
    double best_d = std::numeric_limits<double>::infinity();
    std::size_t best_j = n;
    const double ia = component(coords[i], axis);
    const double io = component(coords[i], other);
    const bool i_side = ia >= 0.0;
    for (const int member : classes[class_of[i]]) {
      const auto j = static_cast<std::size_t>(member);
      if (j == i || matched[j]) continue;
      const double ja = component(coords[j], axis);
      if ((ja >= 0.0) == i_side) continue;
      const double d = std::fabs(ja + ia) + std::fabs(component(coords[j], other) - io);
      if (d < best_d) {
        best_d = d;
        best_j = j;
      }
    }
    if (best_j == n) continue;
    const std::size_t j = best_j;
    const double ja = component(coords[j], axis);
    const double avg_other = (io + component(coords[j], other)) / 2.0;
    const double avg_axis = (std::fabs(ia) + std::fabs(ja)) / 2.0;
    component(coords[i], axis) = ia >= 0.0 ? avg_axis : -avg_axis;
    component(coords[j], axis) = ja >= 0.0 ? avg_axis : -avg_axis;
    component(coords[i], other) = avg_other;
    component(coords[j], other) = avg_other;
    matched[i] = 1;
    matched[j] = 1;
  }
}

}  // namespace tessarin::layout
