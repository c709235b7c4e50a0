#include "ms/atom_cuts.h"

#include <GraphMol/Bond.h>

#include <algorithm>
#include <string>

#include "core/atom_index.h"
#include "core/errors.h"

namespace tessarin::ms {

AtomGraph::AtomGraph(const RDKit::ROMol& mol) {
  atoms_.resize(mol.getNumAtoms());
  for (std::size_t i = 0; i < atoms_.size(); ++i) atoms_[i] = static_cast<int>(i);
  build(mol);
}

AtomGraph::AtomGraph(const RDKit::ROMol& mol, std::span<const int> atoms) : atoms_(atoms.begin(), atoms.end()) {
  core::check_atom_indices(mol, atoms);
  std::sort(atoms_.begin(), atoms_.end());
  atoms_.erase(std::unique(atoms_.begin(), atoms_.end()), atoms_.end());
  build(mol);
}

void AtomGraph::build(const RDKit::ROMol& mol) {
  const std::size_t n = atoms_.size();
  local_.assign(mol.getNumAtoms(), -1);
  for (std::size_t k = 0; k < n; ++k) local_[static_cast<std::size_t>(atoms_[k])] = static_cast<int>(k);

  // Bonds inside the set, as (position, position, bond id).
  struct Link {
    int u, v, id;
  };
  std::vector<Link> links;
  std::vector<int> degree(n, 0);
  for (const RDKit::Bond* bond : mol.bonds()) {
    const int u = local(static_cast<int>(bond->getBeginAtomIdx()));
    const int v = local(static_cast<int>(bond->getEndAtomIdx()));
    if (u < 0 || v < 0 || u == v) continue;
    links.push_back({u, v, static_cast<int>(links.size())});
    ++degree[static_cast<std::size_t>(u)];
    ++degree[static_cast<std::size_t>(v)];
  }
  offset_.assign(n + 1, 0);
  for (std::size_t k = 0; k < n; ++k) offset_[k + 1] = offset_[k] + degree[k];
  neighbour_.resize(static_cast<std::size_t>(offset_[n]));
  bond_.resize(neighbour_.size());
  std::vector<int> fill(offset_.begin(), offset_.end() - 1);
  for (const Link& l : links) {
    auto put = [&](int at, int to) {
      const auto slot = static_cast<std::size_t>(fill[static_cast<std::size_t>(at)]++);
      neighbour_[slot] = to;
      bond_[slot] = l.id;
    };
    put(l.u, l.v);
    put(l.v, l.u);
  }
  bond_off_.assign(links.size(), 0);

  // Connected parts, numbered in order of their smallest atom.
  part_.assign(n, -1);
  part_members_.clear();
  for (std::size_t start = 0; start < n; ++start) {
    if (part_[start] >= 0) continue;
    const int p = static_cast<int>(part_members_.size());
    std::vector<int> members{static_cast<int>(start)};
    part_[start] = p;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const auto u = static_cast<std::size_t>(members[i]);
      for (int s = offset_[u]; s < offset_[u + 1]; ++s) {
        const int v = neighbour_[static_cast<std::size_t>(s)];
        if (part_[static_cast<std::size_t>(v)] >= 0) continue;
        part_[static_cast<std::size_t>(v)] = p;
        members.push_back(v);
      }
    }
    std::sort(members.begin(), members.end());
    part_members_.push_back(std::move(members));
  }
}

int AtomGraph::local(int atom) const {
  if (atom < 0 || static_cast<std::size_t>(atom) >= local_.size()) return -1;
  return local_[static_cast<std::size_t>(atom)];
}

bool AtomGraph::contains(int atom) const { return local(atom) >= 0; }

std::optional<int> AtomGraph::bond_id(int i, int j) const {
  const int u = local(i);
  const int v = local(j);
  if (u < 0 || v < 0) return std::nullopt;
  const auto uu = static_cast<std::size_t>(u);
  for (int s = offset_[uu]; s < offset_[uu + 1]; ++s) {
    if (neighbour_[static_cast<std::size_t>(s)] == v) return bond_[static_cast<std::size_t>(s)];
  }
  return std::nullopt;
}

bool AtomGraph::has_bond(int i, int j) const { return bond_id(i, j).has_value(); }

int AtomGraph::cut_bond_ids(std::span<const AtomPair> bonds, std::vector<int>& ids) const {
  if (bonds.empty()) throw InvalidInput("a cut needs at least one bond");
  ids.clear();
  int part = -1;
  for (const AtomPair& pair : bonds) {
    const std::optional<int> id = bond_id(pair.a, pair.b);
    if (!id) {
      throw InvalidInput("atoms " + std::to_string(pair.a) + " and " + std::to_string(pair.b) +
                         " are not bonded in this atom set");
    }
    const int p = part_[static_cast<std::size_t>(local(pair.a))];
    if (part >= 0 && p != part) return -1;  // bonds of different parts: nothing to judge
    part = p;
    ids.push_back(*id);
  }
  return part;
}

template <class Visit>
int AtomGraph::label_pieces(int part, const std::vector<int>& ids, Visit&& visit) {
  for (int id : ids) bond_off_[static_cast<std::size_t>(id)] = 1;
  const std::vector<int>& members = part_members_[static_cast<std::size_t>(part)];
  label_.assign(atoms_.size(), -1);
  int count = 0;
  for (int start : members) {
    if (label_[static_cast<std::size_t>(start)] >= 0) continue;
    const int piece = count++;
    label_[static_cast<std::size_t>(start)] = piece;
    queue_.assign(1, start);
    for (std::size_t i = 0; i < queue_.size(); ++i) {
      const auto u = static_cast<std::size_t>(queue_[i]);
      for (int s = offset_[u]; s < offset_[u + 1]; ++s) {
        const auto slot = static_cast<std::size_t>(s);
        const int v = neighbour_[slot];
        if (bond_off_[static_cast<std::size_t>(bond_[slot])] != 0 || label_[static_cast<std::size_t>(v)] >= 0) continue;
        label_[static_cast<std::size_t>(v)] = piece;
        queue_.push_back(v);
      }
    }
    visit(piece);
  }
  for (int id : ids) bond_off_[static_cast<std::size_t>(id)] = 0;
  return count;
}

Cut AtomGraph::cut(std::span<const AtomPair> bonds) {
  Cut out;
  const int part = cut_bond_ids(bonds, ids_);
  if (part < 0) return out;
  out.same_part = true;

  std::array<std::vector<int>, 2> pieces;
  out.piece_count = label_pieces(part, ids_, [&](int piece) {
    if (piece < 2) {
      for (int v : queue_) pieces[static_cast<std::size_t>(piece)].push_back(atoms_[static_cast<std::size_t>(v)]);
    }
  });

  if (out.piece_count == 2) {
    // Pieces were started from the part's atoms in ascending order, so the
    // first holds the smaller atom index.
    for (auto& piece : pieces) std::sort(piece.begin(), piece.end());
    out.pieces = std::move(pieces);
  }
  return out;
}

std::vector<std::vector<int>> AtomGraph::bordered_pieces(std::span<const AtomPair> bonds) {
  std::vector<std::vector<int>> out;
  const int part = cut_bond_ids(bonds, ids_);
  if (part < 0) return out;
  label_pieces(part, ids_, [](int) {});
  // The pieces on both sides of every bond: those of the first bond's ends
  // that every other bond also joins to a piece outside.
  std::vector<int> candidates;
  bool first = true;
  for (const AtomPair& pair : bonds) {
    const int lu = label_[static_cast<std::size_t>(local(pair.a))];
    const int lv = label_[static_cast<std::size_t>(local(pair.b))];
    if (lu == lv) return out;  // a bond inside a piece borders none
    if (first) {
      candidates = {lu, lv};
      first = false;
    } else {
      std::erase_if(candidates, [&](int c) { return c != lu && c != lv; });
    }
  }
  if (candidates.empty()) return out;
  std::sort(candidates.begin(), candidates.end());
  out.resize(candidates.size());
  const std::vector<int>& members = part_members_[static_cast<std::size_t>(part)];
  for (int v : members) {  // ascending, so every piece comes out sorted
    const int l = label_[static_cast<std::size_t>(v)];
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      if (candidates[k] == l) out[k].push_back(atoms_[static_cast<std::size_t>(v)]);
    }
  }
  return out;
}

}  // namespace tessarin::ms
