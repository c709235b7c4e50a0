#include "layout/atom_layout.h"

#include <chrono>

#include <GraphMol/Conformer.h>
#include <GraphMol/Depictor/RDDepictor.h>
#include <GraphMol/ROMol.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>

#include "core/errors.h"
#include "layout/coordgen_depiction.h"
#include "layout/refinement.h"

namespace tessarin::layout {
namespace {

// Normal draws for separating coincident atoms: a generator seeded afresh on
// every layout, so equal inputs always get equal nudges.
class SeededNormal {
 public:
  explicit SeededNormal(std::uint64_t seed) : engine_(seed) {}

  // Two independent draws of mean 0 and standard deviation `sd` (Box-Muller).
  Point2 pair(double sd) {
    const double u1 = unit_open_low();
    const double u2 = unit_open_low();
    const double r = std::sqrt(-2.0 * std::log(u1));
    const double t = 2.0 * std::numbers::pi * u2;
    return Point2{sd * r * std::cos(t), sd * r * std::sin(t)};
  }

 private:
  // Uniform in (0, 1], from the top 53 bits of one 64-bit word.
  double unit_open_low() { return static_cast<double>((engine_() >> 11) + 1) * 0x1.0p-53; }

  std::mt19937_64 engine_;
};

bool finite(const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

void separate_coincident(std::vector<Point2>& coords, const core::InterruptCheck& poll) {
  SeededNormal rng(42);
  const std::size_t n = coords.size();
  for (std::size_t i = 0; i < n; ++i) {
    core::poll(poll);
    for (std::size_t j = i + 1; j < n; ++j) {
      const double dx = coords[i].x - coords[j].x;
      const double dy = coords[i].y - coords[j].y;
      if (std::sqrt(dx * dx + dy * dy) < 1e-6) {
        const Point2 nudge = rng.pair(0.1);
        coords[j] = Point2{coords[j].x + nudge.x, coords[j].y + nudge.y};
      }
    }
  }
}

// Sorted bonded partners of every atom.
std::vector<std::vector<int>> bonded_partners(std::size_t n, std::span<const BondPair> bonds) {
  std::vector<std::vector<int>> partners(n);
  for (const BondPair& b : bonds) {
    partners[b.begin].push_back(b.end);
    partners[b.end].push_back(b.begin);
  }
  for (auto& p : partners) std::sort(p.begin(), p.end());
  return partners;
}

bool is_bonded(const std::vector<std::vector<int>>& partners, int u, int v) {
  const auto& p = partners[u];
  return std::binary_search(p.begin(), p.end(), v);
}

// Non-bonded pairs (u < v, ascending) that may lie within the repulsion
// cut-off. Built from a cell grid with a margin ("skin") beyond the cut-off and
// reused until some atom has moved far enough that a pair left out could have
// come into range. Visiting only these pairs, in this order, adds exactly the
// same forces in exactly the same order as visiting every pair.
class NeighbourPairs {
 public:
  NeighbourPairs(const std::vector<std::vector<int>>& partners, double cutoff)
      : partners_(partners), skin_(0.35 * cutoff), reach_(cutoff + skin_), move_limit_(0.45 * skin_) {}

  const std::vector<std::pair<int, int>>& current(const std::vector<Point2>& coords) {
    if (!built_ || moved_too_far(coords)) rebuild(coords);
    return pairs_;
  }

 private:
  bool moved_too_far(const std::vector<Point2>& coords) const {
    const double limit2 = move_limit_ * move_limit_;
    for (std::size_t i = 0; i < coords.size(); ++i) {
      const double dx = coords[i].x - anchor_[i].x;
      const double dy = coords[i].y - anchor_[i].y;
      if (!(dx * dx + dy * dy <= limit2)) return true;
    }
    return false;
  }

  void rebuild(const std::vector<Point2>& coords) {
    const std::size_t n = coords.size();
    anchor_ = coords;
    built_ = true;
    pairs_.clear();
    if (n < 2) return;

    double min_x = coords[0].x, max_x = min_x, min_y = coords[0].y, max_y = min_y;
    for (const Point2& p : coords) {
      min_x = std::min(min_x, p.x);
      max_x = std::max(max_x, p.x);
      min_y = std::min(min_y, p.y);
      max_y = std::max(max_y, p.y);
    }
    // Cells at least `reach_` wide, so that a pair in range sits in the same or
    // adjacent cells; wider cells when a sprawling layout would need too many.
    const double max_cells = 4.0 * static_cast<double>(n) + 64.0;
    double cell = reach_;
    if (!std::isfinite(max_x - min_x) || !std::isfinite(max_y - min_y)) cell = std::numeric_limits<double>::infinity();
    double cols = std::floor((max_x - min_x) / cell) + 1.0;
    double rows = std::floor((max_y - min_y) / cell) + 1.0;
    if (!std::isfinite(cell)) cols = rows = 1.0;
    while (cols * rows > max_cells) {
      cell *= 2.0;
      cols = std::floor((max_x - min_x) / cell) + 1.0;
      rows = std::floor((max_y - min_y) / cell) + 1.0;
    }
    const int nx = static_cast<int>(cols), ny = static_cast<int>(rows);
    const auto cell_xy = [&](const Point2& p) {
      if (nx == 1 && ny == 1) return std::pair<int, int>{0, 0};
      const int cx = std::min(static_cast<int>((p.x - min_x) / cell), nx - 1);
      const int cy = std::min(static_cast<int>((p.y - min_y) / cell), ny - 1);
      return std::pair<int, int>{cx, cy};
    };

    // Counting sort of the atoms by cell; each cell lists its atoms ascending.
    cell_start_.assign(static_cast<std::size_t>(nx) * ny + 1, 0);
    cell_of_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const auto [cx, cy] = cell_xy(coords[i]);
      cell_of_[i] = cy * nx + cx;
      ++cell_start_[cell_of_[i] + 1];
    }
    for (std::size_t c = 1; c < cell_start_.size(); ++c) cell_start_[c] += cell_start_[c - 1];
    cell_atoms_.resize(n);
    fill_.assign(cell_start_.begin(), cell_start_.end() - 1);
    for (std::size_t i = 0; i < n; ++i) cell_atoms_[fill_[cell_of_[i]]++] = static_cast<int>(i);

    const double reach2 = reach_ * reach_;
    std::vector<int> found;
    for (std::size_t u = 0; u < n; ++u) {
      found.clear();
      const int cx = cell_of_[u] % nx, cy = cell_of_[u] / nx;
      for (int y = std::max(cy - 1, 0); y <= std::min(cy + 1, ny - 1); ++y) {
        for (int x = std::max(cx - 1, 0); x <= std::min(cx + 1, nx - 1); ++x) {
          const int c = y * nx + x;
          for (int k = cell_start_[c]; k < cell_start_[c + 1]; ++k) {
            const int v = cell_atoms_[k];
            if (v <= static_cast<int>(u)) continue;
            const double dx = coords[v].x - coords[u].x;
            const double dy = coords[v].y - coords[u].y;
            if (dx * dx + dy * dy < reach2 && !is_bonded(partners_, static_cast<int>(u), v)) found.push_back(v);
          }
        }
      }
      std::sort(found.begin(), found.end());
      for (int v : found) pairs_.emplace_back(static_cast<int>(u), v);
    }
  }

  const std::vector<std::vector<int>>& partners_;
  double skin_, reach_, move_limit_;
  bool built_ = false;
  std::vector<Point2> anchor_;
  std::vector<std::pair<int, int>> pairs_;
  std::vector<int> cell_start_, cell_of_, cell_atoms_, fill_;
};

void relax(std::vector<Point2>& coords, std::span<const BondPair> bonds, std::span<const std::vector<int>> groups,
           const LayoutParams& params, PairSearch search, const core::InterruptCheck& poll) {
  const std::size_t n = coords.size();
  const double target = params.target_bond_len;
  const double k_attr = params.k_attr, k_rep = params.k_rep;
  const double min_nb = params.target_bond_len * params.repulsion_factor;
  const std::vector<std::vector<int>> partners = bonded_partners(n, bonds);
  NeighbourPairs neighbours(partners, min_nb);
  std::vector<std::pair<int, int>> all_pairs;
  if (search == PairSearch::all_pairs) {
    for (std::size_t u = 0; u < n; ++u) {
      for (std::size_t v = u + 1; v < n; ++v) {
        if (!is_bonded(partners, static_cast<int>(u), static_cast<int>(v))) all_pairs.emplace_back(u, v);
      }
    }
  }
  const bool repulsion = min_nb > 0.0;  // otherwise no distance is below the cut-off

  std::vector<Point2> forces(n);
  for (int it = 0; it < params.n_iter; ++it) {
    if (it % 8 == 0) core::poll(poll);  // an iteration of a small molecule takes about a microsecond
    std::fill(forces.begin(), forces.end(), Point2{});
    for (const BondPair& b : bonds) {
      const double dx = coords[b.end].x - coords[b.begin].x;
      const double dy = coords[b.end].y - coords[b.begin].y;
      const double length = std::sqrt(dx * dx + dy * dy);
      if (length < 1e-9) continue;
      const double s = k_attr * (length - target);
      const double fx = s * dx / length, fy = s * dy / length;
      forces[b.begin].x += fx;
      forces[b.begin].y += fy;
      forces[b.end].x -= fx;
      forces[b.end].y -= fy;
    }
    if (repulsion) {
      const auto& pairs = search == PairSearch::all_pairs ? all_pairs : neighbours.current(coords);
      for (const auto& [u, v] : pairs) {
        const double dx = coords[v].x - coords[u].x;
        const double dy = coords[v].y - coords[u].y;
        const double length = std::sqrt(dx * dx + dy * dy);
        if (length < 1e-9 || !(length < min_nb)) continue;
        const double s = k_rep * (min_nb - length);
        const double fx = s * dx / length, fy = s * dy / length;
        forces[u].x -= fx;
        forces[u].y -= fy;
        forces[v].x += fx;
        forces[v].y += fy;
      }
    }
    for (std::size_t i = 0; i < n; ++i) coords[i] = Point2{coords[i].x + forces[i].x, coords[i].y + forces[i].y};
    if (it > 50 && it % 5 == 0) radial_equalize(coords, groups);
    if (!std::all_of(coords.begin(), coords.end(), finite)) {
      throw InvalidInput("the layout relaxation diverged (coordinates became infinite or NaN at iteration " +
                         std::to_string(it) + "); use smaller k_attr and k_rep");
    }
  }
}

std::vector<Point2> read_conformer(const RDKit::ROMol& mol, int conf_id) {
  std::vector<Point2> coords(mol.getNumAtoms());
  if (coords.empty()) return coords;
  const RDKit::Conformer& conf = mol.getConformer(conf_id);
  for (std::size_t i = 0; i < coords.size(); ++i) {
    const RDGeom::Point3D& p = conf.getAtomPos(static_cast<unsigned>(i));
    coords[i] = Point2{p.x, p.y};
  }
  return coords;
}

}  // namespace

void check_layout_params(const LayoutParams& p) {
  if (p.n_iter < 0) throw InvalidInput("n_iter must not be negative, got " + std::to_string(p.n_iter));
  const std::pair<const char*, double> values[] = {{"target_bond_len", p.target_bond_len},
                                                   {"repulsion_factor", p.repulsion_factor},
                                                   {"k_attr", p.k_attr},
                                                   {"k_rep", p.k_rep}};
  for (const auto& [name, value] : values) {
    if (!std::isfinite(value)) throw InvalidInput(std::string(name) + " must be a finite number");
  }
  if (!(p.target_bond_len > 0.0)) throw InvalidInput("target_bond_len must be positive");
}

std::vector<Point2> depict_2d(RDKit::ROMol& mol) {
  // Process-wide switch, kept on for the caller's own later depictions (ours
  // call CoordGen directly and do not read it). Written only when off, so that
  // threads depicting at the same time only ever read it.
  if (!RDDepict::preferCoordGen) RDDepict::preferCoordGen = true;
  int conf_id = static_cast<int>(coordgen_depiction(mol));
  std::vector<Point2> coords = read_conformer(mol, conf_id);
  if (!std::all_of(coords.begin(), coords.end(), finite)) {
    conf_id = static_cast<int>(RDDepict::compute2DCoords(mol, nullptr, /*canonOrient=*/true, /*clearConfs=*/true,
                                                         /*nFlipsPerSample=*/0, /*nSamples=*/0,
                                                         /*sampleSeed=*/0, /*permuteDeg4Nodes=*/false,
                                                         /*forceRDKit=*/true));
    coords = read_conformer(mol, conf_id);
  }
  return coords;
}

std::vector<Point2> refine_layout(std::vector<Point2> coords, std::span<const BondPair> bonds,
                                  std::span<const int> ranks, const LayoutParams& params, PairSearch search,
                                  const core::InterruptCheck& poll) {
  check_layout_params(params);
  const std::size_t n = coords.size();
  if (ranks.size() != n) {
    throw InvalidInput("ranks has " + std::to_string(ranks.size()) + " entries for " + std::to_string(n) + " atoms");
  }
  for (const BondPair& b : bonds) {
    if (b.begin < 0 || b.end < 0 || static_cast<std::size_t>(b.begin) >= n || static_cast<std::size_t>(b.end) >= n) {
      throw IndexOutOfRange("bond (" + std::to_string(b.begin) + ", " + std::to_string(b.end) +
                            ") refers to an atom outside a layout of " + std::to_string(n) + " atoms");
    }
  }
  if (n == 1) return coords;
  if (!std::all_of(coords.begin(), coords.end(), finite)) {
    throw InvalidInput("starting coordinates must be finite numbers");
  }

  std::vector<std::vector<int>> groups = symmetry_groups(ranks);
  std::erase_if(groups, [](const std::vector<int>& g) { return g.size() < 2; });
  separate_coincident(coords, poll);
  relax(coords, bonds, groups, params, search, poll);
  std::vector<Point2> aligned = pca_align(coords);
  enforce_mirror(aligned, ranks, 1, 0.05, poll);
  enforce_mirror(aligned, ranks, 0, 0.05, poll);
  return aligned;
}

AtomLayout compute_atom_layout(RDKit::ROMol& mol, const LayoutParams& params, LayoutTiming* timing,
                               const core::InterruptCheck& poll, const Depicter& depict) {
  check_layout_params(params);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<Point2> coords = depict ? depict(mol) : depict_2d(mol);
  const auto depicted = Clock::now();
  struct Stamp {
    LayoutTiming* timing;
    Clock::time_point start, depicted;
    ~Stamp() {
      if (timing == nullptr) return;
      timing->depiction = std::chrono::duration<double>(depicted - start).count();
      timing->refinement = std::chrono::duration<double>(Clock::now() - depicted).count();
    }
  } stamp{timing, start, depicted};
  core::poll(poll);
  std::vector<int> ranks = symmetry_classes(mol);
  if (coords.size() == 1) return AtomLayout{std::move(coords), std::move(ranks)};
  std::vector<BondPair> bonds;
  bonds.reserve(mol.getNumBonds());
  for (const RDKit::Bond* bond : mol.bonds()) {
    bonds.push_back(BondPair{static_cast<int>(bond->getBeginAtomIdx()), static_cast<int>(bond->getEndAtomIdx())});
  }
  coords = refine_layout(std::move(coords), bonds, ranks, params, PairSearch::neighbour_list, poll);
  return AtomLayout{std::move(coords), std::move(ranks)};
}

}  // namespace tessarin::layout
