#include "ms/atom_set_cuts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/errors.h"
#include "core/nominal_mass.h"
#include "ms/atom_cuts.h"
#include "ms/fragments.h"

namespace tessarin::ms {

std::vector<std::vector<int>> cut_atom_set(const RDKit::ROMol& mol, std::span<const int> atom_set,
                                           std::span<const SoftBond> softs, bool ring_fragmentation, double min_mz,
                                           const core::InterruptCheck& poll) {
  if (std::isnan(min_mz)) throw InvalidInput("min_mz must be a number, not NaN");
  AtomGraph graph(mol, atom_set);
  auto inside = [&graph](long long atom) {
    return atom >= 0 && atom <= static_cast<long long>(std::numeric_limits<int>::max()) &&
           graph.contains(static_cast<int>(atom));
  };

  // Soft pairs in first-met order, each with the highest order of its records.
  std::vector<std::pair<AtomPair, int>> pair_order;
  for (const SoftBond& s : softs) {
    if (!inside(s.atom_u) || !inside(s.atom_v)) continue;
    const AtomPair pair = AtomPair::sorted(static_cast<int>(s.atom_u), static_cast<int>(s.atom_v));
    auto it = std::find_if(pair_order.begin(), pair_order.end(), [&](const auto& p) { return p.first == pair; });
    if (it == pair_order.end()) {
      pair_order.emplace_back(pair, std::max(1, s.order.value_or(1)));
    } else {
      it->second = std::max(it->second, s.order.value_or(1));
    }
  }

  std::vector<std::vector<int>> pieces;
  std::vector<AtomPair> ring_pairs;
  for (const auto& [pair, order] : pair_order) {
    if (!graph.has_bond(pair.a, pair.b)) continue;
    core::poll(poll);
    Cut cut = graph.cut(std::span<const AtomPair>(&pair, 1));
    if (cut.split()) {
      const int lighter = std::min(heavy_atom_count(mol, cut.pieces[0]), heavy_atom_count(mol, cut.pieces[1]));
      // A multiple bond does not come off a lone heavy atom with only its hydrogens.
      if (order >= 2 && lighter == 1) continue;
      pieces.push_back(std::move(cut.pieces[0]));
      pieces.push_back(std::move(cut.pieces[1]));
    } else {
      ring_pairs.push_back(pair);
    }
  }

  if (ring_fragmentation) {
    for (std::size_t i = 0; i < ring_pairs.size(); ++i) {
      for (std::size_t j = i + 1; j < ring_pairs.size(); ++j) {
        const AtomPair both[] = {ring_pairs[i], ring_pairs[j]};
        core::poll(poll);
        Cut cut = graph.cut(both);
        if (!cut.split()) continue;
        const double lighter = std::min(core::average_mass(mol, cut.pieces[0]), core::average_mass(mol, cut.pieces[1]));
        if (lighter < min_mz) continue;
        pieces.push_back(std::move(cut.pieces[0]));
        pieces.push_back(std::move(cut.pieces[1]));
      }
    }
  }

  std::sort(pieces.begin(), pieces.end());
  pieces.erase(std::unique(pieces.begin(), pieces.end()), pieces.end());
  return pieces;
}

}  // namespace tessarin::ms
