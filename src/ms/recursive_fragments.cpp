#include "ms/recursive_fragments.h"

#include <deque>
#include <numeric>
#include <set>
#include <unordered_set>
#include <utility>

#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "ms/atom_set_cuts.h"

namespace tessarin::ms {

std::vector<GenerationPeak> predict_fragments_recursive(const RDKit::ROMol& mol, const MoleculeOrbitals& orbitals,
                                                        const RecursiveOptions& options, SoftTestStats* stats,
                                                        const core::InterruptCheck& poll) {
  std::vector<int> all_atoms(mol.getNumAtoms());
  std::iota(all_atoms.begin(), all_atoms.end(), 0);

  std::vector<GenerationPeak> peaks{{core::nominal_mass(mol, all_atoms), core::fragment_formula(mol, all_atoms), 0}};
  std::unordered_set<int> peak_mz{peaks.front().mz};
  if (options.max_generations <= 0) {
    if (stats != nullptr) *stats = {};
    return peaks;
  }

  AtomSetSoftBonds softs_of(orbitals, options.tol, options.path);
  std::set<std::vector<int>> seen{all_atoms};
  std::deque<std::pair<std::vector<int>, int>> queue;
  queue.emplace_back(all_atoms, 0);
  std::vector<SoftBond> softs;

  while (!queue.empty()) {
    auto [atom_set, gen] = std::move(queue.front());
    queue.pop_front();
    if (gen >= options.max_generations) continue;
    core::poll(poll);

    softs.clear();
    for (std::size_t i : softs_of.soft_bonds(atom_set, poll)) {
      const OrbitalBond& b = orbitals.bonds[i];
      softs.push_back({b.atom_u, b.atom_v, {}, {}, b.order});
    }
    const std::vector<std::vector<int>> children =
        cut_atom_set(mol, atom_set, softs, options.ring_fragmentation, options.min_mz, poll);
    for (const std::vector<int>& child : children) {
      if (child.empty() || child == atom_set) continue;
      const int mz = core::nominal_mass(mol, child);
      if (!seen.insert(child).second) continue;
      if (peak_mz.insert(mz).second) peaks.push_back({mz, core::fragment_formula(mol, child), gen + 1});
      queue.emplace_back(child, gen + 1);
    }
  }
  if (stats != nullptr) *stats = softs_of.stats();
  return peaks;
}

}  // namespace tessarin::ms
