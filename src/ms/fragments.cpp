#include "ms/fragments.h"

#include <GraphMol/Atom.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>

#include "core/atom_index.h"
#include "core/errors.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "core/number_format.h"
#include "ms/atom_cuts.h"

namespace tessarin::ms {

const char* cut_mode_name(CutMode mode) { return mode == CutMode::ring ? "ring" : "single"; }

FragmentTuple fragment_tuple(const RDKit::ROMol& mol, std::span<const int> piece) {
  return {core::fragment_formula(mol, piece), core::python_round(core::average_mass(mol, piece), 2),
          core::nominal_mass(mol, piece)};
}

std::vector<FragmentTuple> fragment_list(const RDKit::ROMol& mol, std::span<const std::vector<int>> pieces) {
  std::vector<FragmentTuple> out;
  out.reserve(pieces.size());
  for (const std::vector<int>& piece : pieces) out.push_back(fragment_tuple(mol, piece));
  std::stable_sort(out.begin(), out.end(), [](const FragmentTuple& x, const FragmentTuple& y) { return x.mz > y.mz; });
  return out;
}

int heavy_atom_count(const RDKit::ROMol& mol, std::span<const int> piece) {
  core::check_atom_indices(mol, piece);
  return static_cast<int>(
      std::count_if(piece.begin(), piece.end(), [&](int i) { return mol.getAtomWithIdx(i)->getAtomicNum() > 1; }));
}

PieceTuples::PieceTuples(const RDKit::ROMol& mol) {
  const unsigned n = mol.getNumAtoms();
  std::vector<core::FormulaTerm> atom_terms(n);
  nominal_.resize(n);
  mass_.resize(n);
  heavy_.resize(n);
  for (const RDKit::Atom* atom : mol.atoms()) {
    const unsigned i = atom->getIdx();
    atom_terms[i] = core::formula_term(*atom);
    nominal_[i] = core::atom_nominal_mass(*atom);
    mass_[i] = atom->getMass();
    heavy_[i] = atom->getAtomicNum() > 1 ? 1 : 0;
  }
  std::vector<core::FormulaTerm> terms = atom_terms;
  std::sort(terms.begin(), terms.end());
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  terms_.reserve(terms.size());
  for (const core::FormulaTerm& t : terms) terms_.push_back(t.text());
  term_of_.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    term_of_[i] = static_cast<int>(std::lower_bound(terms.begin(), terms.end(), atom_terms[i]) - terms.begin());
  }
}

void PieceTuples::check(std::span<const int> piece) const {
  for (int i : piece) {
    if (i < 0 || static_cast<std::size_t>(i) >= mass_.size()) {
      const std::size_t n = mass_.size();
      throw IndexOutOfRange("atom index " + std::to_string(i) + " is out of range for a molecule of " +
                            std::to_string(n) + " atom" + (n == 1 ? "" : "s"));
    }
  }
}

double PieceTuples::average_mass(std::span<const int> piece) const {
  check(piece);
  double total = 0.0;
  for (int i : piece) total += mass_[static_cast<std::size_t>(i)];
  return total;
}

int PieceTuples::heavy_atoms(std::span<const int> piece) const {
  check(piece);
  int count = 0;
  for (int i : piece) count += heavy_[static_cast<std::size_t>(i)];
  return count;
}

FragmentTuple PieceTuples::tuple(std::span<const int> piece) const {
  check(piece);
  counts_.assign(terms_.size(), 0);
  double mass = 0.0;
  int nominal = 0;
  for (int i : piece) {
    const auto u = static_cast<std::size_t>(i);
    ++counts_[static_cast<std::size_t>(term_of_[u])];
    mass += mass_[u];
    nominal += nominal_[u];
  }
  std::string formula;
  for (std::size_t s = 0; s < terms_.size(); ++s) {
    if (counts_[s] <= 0) continue;
    formula += terms_[s];
    if (counts_[s] > 1) formula += std::to_string(counts_[s]);
  }
  return {std::move(formula), core::python_round(mass, 2), nominal};
}

std::vector<FragmentTuple> PieceTuples::list(std::span<const std::vector<int>> pieces) const {
  std::vector<FragmentTuple> out;
  out.reserve(pieces.size());
  for (const std::vector<int>& piece : pieces) out.push_back(tuple(piece));
  std::stable_sort(out.begin(), out.end(), [](const FragmentTuple& x, const FragmentTuple& y) { return x.mz > y.mz; });
  return out;
}

std::vector<FragmentEntry> predict_fragments(const RDKit::ROMol& mol, std::span<const SoftBond> softs,
                                             bool ring_fragmentation, double min_ring_fragment_mz,
                                             const core::InterruptCheck& poll) {
  if (std::isnan(min_ring_fragment_mz)) throw InvalidInput("min_ring_fragment_mz must be a number, not NaN");
  for (const SoftBond& s : softs) {
    core::check_atom_index(mol, s.atom_u);
    core::check_atom_index(mol, s.atom_v);
  }

  AtomGraph graph(mol);
  const PieceTuples tuples(mol);
  std::vector<FragmentEntry> results;
  std::set<AtomPair> seen_pairs;
  std::vector<AtomPair> ring_pairs;

  for (std::size_t i = 0; i < softs.size(); ++i) {
    const SoftBond& s = softs[i];
    const AtomPair pair = AtomPair::sorted(static_cast<int>(s.atom_u), static_cast<int>(s.atom_v));
    if (!seen_pairs.insert(pair).second) continue;
    if (!graph.has_bond(pair.a, pair.b)) continue;
    core::poll(poll);
    std::string label = core::pair_label(s.sym_u, static_cast<int>(s.atom_u), s.sym_v, static_cast<int>(s.atom_v));
    Cut cut = graph.cut(std::span<const AtomPair>(&pair, 1));
    if (cut.split()) {
      if (!s.order) throw MissingKey("soft bond record " + std::to_string(i) + " (" + label + ") has no order");
      const int lighter = std::min(tuples.heavy_atoms(cut.pieces[0]), tuples.heavy_atoms(cut.pieces[1]));
      // A multiple bond does not come off a lone heavy atom with only its hydrogens.
      if (*s.order >= 2 && lighter == 1) continue;
      results.push_back({std::move(label), true, CutMode::single, tuples.list(cut.pieces)});
    } else {
      results.push_back({std::move(label), false, CutMode::single, std::nullopt});
      ring_pairs.push_back(pair);
    }
  }

  if (!ring_fragmentation) return results;
  std::set<std::pair<int, int>> seen_double;
  for (std::size_t a = 0; a < ring_pairs.size(); ++a) {
    for (std::size_t b = a + 1; b < ring_pairs.size(); ++b) {
      const AtomPair both[] = {ring_pairs[a], ring_pairs[b]};
      core::poll(poll);
      Cut cut = graph.cut(both);
      if (!cut.split()) continue;
      std::vector<FragmentTuple> frags = tuples.list(cut.pieces);
      const int lo = std::min(frags[0].mz, frags[1].mz);
      const int hi = std::max(frags[0].mz, frags[1].mz);
      if (lo < min_ring_fragment_mz) continue;
      if (!seen_double.insert({lo, hi}).second) continue;
      std::string label =
          core::pair_label(mol, both[0].a, both[0].b) + " + " + core::pair_label(mol, both[1].a, both[1].b);
      results.push_back({std::move(label), true, CutMode::ring, std::move(frags)});
    }
  }
  return results;
}

}  // namespace tessarin::ms
