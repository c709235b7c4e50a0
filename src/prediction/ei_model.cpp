#include "prediction/ei_model.h"

#include <GraphMol/PeriodicTable.h>
#include <GraphMol/RWMol.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <unordered_map>

#include "core/element_data.h"
#include "core/errors.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "ms/atom_cuts.h"
#include "prediction/ei_weights.h"
#include "prediction/fingerprint_network.h"
#include "spectra/isotopes.h"

namespace tessarin::prediction {
namespace {

// Ion-formula features are named only up to this m/z: above it formulas are
// too many and too rare to weigh one by one.
constexpr int kFormulaFeatureMaxMz = 150;

constexpr int kHydrogenShifts[] = {-2, -1, 0, 1, 2};

// The fingerprint network gives an m/z no candidate ion reaches an ion of its
// own when that ion would hold at least this share of the ion model's base
// peak (weaker ones could not move a peak by 0.1 on the 0..999 scale).
constexpr double kNetworkIonThreshold = 1e-4;

bool is_halogen(int z) { return z == 9 || z == 17 || z == 35 || z == 53; }

struct Bond {
  int i = 0;
  int j = 0;
  double order = 1.0;  // 1.5 for aromatic bonds
  bool ring = false;   // cutting it alone leaves its part whole
  ms::AtomPair pair;   // its atoms in the molecule
};

// A ring, its nodes in ring order; bonds[k] joins nodes[k] and nodes[k + 1].
struct Ring {
  std::vector<int> nodes;
  std::vector<int> bonds;
};

// The molecule as a graph of its heavy atoms; hydrogens are counts.
struct Graph {
  const RDKit::ROMol* mol = nullptr;
  int n = 0;
  std::vector<int> atom;  // graph node -> atom index of mol
  std::vector<int> z;
  std::vector<std::string> sym;
  std::vector<int> h;                     // hydrogens, natural and labelled
  std::vector<int> natural_h;             // of them natural
  std::vector<std::vector<int>> h_atoms;  // hydrogen atoms of mol folded into the node
  std::vector<char> arom;
  std::vector<std::vector<std::pair<int, int>>> adj;  // (neighbour, bond)
  std::vector<Bond> bonds;
  std::vector<std::vector<int>> dbl;  // partners by non-aromatic double bonds
  std::vector<std::vector<int>> tpl;  // partners by triple bonds
  std::vector<Ring> rings_in_order;   // the smallest rings
  int aromatic_rings = 0;
  int rings = 0;
};

Graph make_graph(const RDKit::ROMol& mol, const molecule::Perception& perception) {
  Graph g;
  g.mol = &mol;
  const int natoms = static_cast<int>(mol.getNumAtoms());
  if (natoms == 0) throw InvalidInput("EI model: the molecule has no atoms");
  if (perception.aromatic_atoms.size() != mol.getNumAtoms() || perception.aromatic_bonds.size() != mol.getNumBonds()) {
    throw InvalidInput("EI model: the perception is not of this molecule");
  }
  bool any_heavy = false;
  for (const RDKit::Atom* a : mol.atoms()) any_heavy = any_heavy || a->getAtomicNum() != 1;
  std::vector<int> node(static_cast<std::size_t>(natoms), -1);
  for (const RDKit::Atom* a : mol.atoms()) {
    if (any_heavy && a->getAtomicNum() == 1) continue;
    const int idx = static_cast<int>(a->getIdx());
    node[static_cast<std::size_t>(idx)] = g.n++;
    g.atom.push_back(idx);
    g.z.push_back(a->getAtomicNum());
    g.sym.push_back(a->getSymbol());
    const int counted = static_cast<int>(a->getTotalNumHs(false));  // hydrogens not drawn as atoms
    g.h.push_back(counted);
    g.natural_h.push_back(counted);
    g.h_atoms.emplace_back();
    g.arom.push_back(perception.aromatic_atoms[static_cast<std::size_t>(idx)]);
  }
  g.adj.resize(static_cast<std::size_t>(g.n));
  g.dbl.resize(static_cast<std::size_t>(g.n));
  g.tpl.resize(static_cast<std::size_t>(g.n));
  // Hydrogen atoms fold into the heavy atom they are bound to; a lone one is
  // dropped from the graph (it still counts in the molecule's formula).
  for (const RDKit::Atom* a : mol.atoms()) {
    if (!any_heavy || a->getAtomicNum() != 1) continue;
    for (const RDKit::Atom* nb : mol.atomNeighbors(a)) {
      const int v = node[nb->getIdx()];
      if (v >= 0) {
        const auto V = static_cast<std::size_t>(v);
        ++g.h[V];
        if (core::mass_label(*a) == 0) ++g.natural_h[V];
        g.h_atoms[V].push_back(static_cast<int>(a->getIdx()));
        break;
      }
    }
  }
  for (const RDKit::Bond* b : mol.bonds()) {
    const int i = node[b->getBeginAtomIdx()];
    const int j = node[b->getEndAtomIdx()];
    if (i < 0 || j < 0 || i == j) continue;
    const double order = perception.aromatic_bonds[b->getIdx()] ? 1.5 : b->getBondTypeAsDouble();
    Bond bond{i, j, order, false,
              ms::AtomPair::sorted(static_cast<int>(b->getBeginAtomIdx()), static_cast<int>(b->getEndAtomIdx()))};
    const int k = static_cast<int>(g.bonds.size());
    g.bonds.push_back(bond);
    g.adj[static_cast<std::size_t>(i)].emplace_back(j, k);
    g.adj[static_cast<std::size_t>(j)].emplace_back(i, k);
    if (bond.order == 2.0) {
      g.dbl[static_cast<std::size_t>(i)].push_back(j);
      g.dbl[static_cast<std::size_t>(j)].push_back(i);
    } else if (bond.order == 3.0) {
      g.tpl[static_cast<std::size_t>(i)].push_back(j);
      g.tpl[static_cast<std::size_t>(j)].push_back(i);
    }
  }
  for (const std::vector<int>& ring : perception.rings) {
    ++g.rings;
    bool all = true;
    for (int a : ring) all = all && perception.aromatic_atoms[static_cast<std::size_t>(a)];
    if (all) ++g.aromatic_rings;
    Ring r;
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const int u = node[static_cast<std::size_t>(ring[k])];
      const int v = node[static_cast<std::size_t>(ring[(k + 1) % ring.size()])];
      if (u < 0 || v < 0) break;
      for (auto [w, b] : g.adj[static_cast<std::size_t>(u)]) {
        if (w == v) {
          r.nodes.push_back(u);
          r.bonds.push_back(b);
          break;
        }
      }
    }
    if (r.bonds.size() == ring.size()) g.rings_in_order.push_back(std::move(r));
  }
  return g;
}

struct Cut {
  int inside = 0;   // atom of the piece
  int outside = 0;  // atom of the neutral
  int bond = 0;
};

struct Piece {
  std::vector<char> in;  // membership per node
  int size = 0;
  std::vector<Cut> cuts;
};

// Every piece, handed to `visit(piece)` in a fixed order: one-cut pieces by
// bond (the side of the bond's first atom first), then two-cut pieces by
// bond pair. The cuts are those of the molecule's heavy-atom graph
// (ms::AtomGraph); a bond that does not split its part alone is a ring bond
// (Bond::ring is set here). Two bridges border the piece between them, two
// ring bonds the two pieces of their ring system when they split it; a
// bridge and a ring bond together border no piece.
template <class Visit>
void for_each_piece(Graph& g, const core::InterruptCheck& poll, Visit&& visit) {
  ms::AtomGraph cuts(*g.mol, g.atom);
  std::vector<int> node_of(g.mol->getNumAtoms(), -1);
  for (int v = 0; v < g.n; ++v) node_of[static_cast<std::size_t>(g.atom[static_cast<std::size_t>(v)])] = v;
  Piece p;
  auto emit = [&](const std::vector<int>& atoms, std::initializer_list<int> bonds) {
    core::poll(poll);
    p.in.assign(static_cast<std::size_t>(g.n), 0);
    for (int a : atoms) p.in[static_cast<std::size_t>(node_of[static_cast<std::size_t>(a)])] = 1;
    p.size = static_cast<int>(atoms.size());
    p.cuts.clear();
    for (int k : bonds) {
      const Bond& b = g.bonds[static_cast<std::size_t>(k)];
      p.cuts.push_back(p.in[static_cast<std::size_t>(b.i)] ? Cut{b.i, b.j, k} : Cut{b.j, b.i, k});
    }
    visit(static_cast<const Piece&>(p));
  };
  const int nb = static_cast<int>(g.bonds.size());
  for (int k = 0; k < nb; ++k) {
    Bond& b = g.bonds[static_cast<std::size_t>(k)];
    const std::vector<std::vector<int>> sides = cuts.bordered_pieces(std::span<const ms::AtomPair>(&b.pair, 1));
    b.ring = sides.size() != 2;
    if (b.ring) continue;
    const bool first_holds_i =
        std::binary_search(sides[0].begin(), sides[0].end(), g.atom[static_cast<std::size_t>(b.i)]);
    emit(sides[first_holds_i ? 0 : 1], {k});
    emit(sides[first_holds_i ? 1 : 0], {k});
  }
  for (int k1 = 0; k1 < nb; ++k1) {
    const Bond& b1 = g.bonds[static_cast<std::size_t>(k1)];
    for (int k2 = k1 + 1; k2 < nb; ++k2) {
      const Bond& b2 = g.bonds[static_cast<std::size_t>(k2)];
      if (b1.ring != b2.ring) continue;
      if ((k2 & 31) == 0) core::poll(poll);
      const ms::AtomPair both[] = {b1.pair, b2.pair};
      for (const std::vector<int>& piece : cuts.bordered_pieces(both)) emit(piece, {k1, k2});
    }
  }
}

bool contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

// A double-bond partner of `a` inside `in` that is one of the elements.
bool double_to(const Graph& g, int a, const std::vector<char>& in, std::initializer_list<int> elements) {
  for (int x : g.dbl[static_cast<std::size_t>(a)]) {
    if (!in[static_cast<std::size_t>(x)]) continue;
    for (int e : elements) {
      if (g.z[static_cast<std::size_t>(x)] == e) return true;
    }
  }
  return false;
}

bool any_partner_in(const std::vector<int>& partners, const std::vector<char>& in) {
  for (int x : partners) {
    if (in[static_cast<std::size_t>(x)]) return true;
  }
  return false;
}

std::string n_kind(const Graph& g, int v, const std::vector<char>& in) {
  const auto V = static_cast<std::size_t>(v);
  if (g.arom[V]) return "aromatic N";
  for (auto [w, k] : g.adj[V]) {
    if (g.z[static_cast<std::size_t>(w)] == 8 && in[static_cast<std::size_t>(w)]) return "N-oxide or nitro N";
  }
  for (auto [w, k] : g.adj[V]) {
    if (in[static_cast<std::size_t>(w)] && g.z[static_cast<std::size_t>(w)] == 6 && double_to(g, w, in, {8, 16})) {
      return "amide N";
    }
  }
  if (!g.dbl[V].empty() || !g.tpl[V].empty()) return "imine or nitrile N";
  return "amine N";
}

std::string o_kind(const Graph& g, int v, const std::vector<char>& in) {
  const auto V = static_cast<std::size_t>(v);
  if (g.arom[V]) return "aromatic O";
  if (!g.dbl[V].empty()) return "carbonyl O";
  for (auto [w, k] : g.adj[V]) {
    const auto W = static_cast<std::size_t>(w);
    if (!in[W] || g.z[W] != 6) continue;
    for (int x : g.dbl[W]) {
      if (x != v && g.z[static_cast<std::size_t>(x)] == 8 && in[static_cast<std::size_t>(x)]) return "ester or acid O";
    }
  }
  for (auto [w, k] : g.adj[V]) {
    if (in[static_cast<std::size_t>(w)] && g.arom[static_cast<std::size_t>(w)]) return "aryl ether or phenol O";
  }
  if (g.h[V] > 0) return "hydroxyl O";
  return "ether O";
}

enum class Carbonyl { none, acid_or_ester, amide, ketone_or_aldehyde };

// What carbon `c` is when its C=O lies in the atom set `in`, told by its
// other neighbours there: an O makes an acid or ester, else an N an amide.
Carbonyl carbonyl_kind(const Graph& g, int c, const std::vector<char>& in) {
  const auto C = static_cast<std::size_t>(c);
  if (g.z[C] != 6 || !double_to(g, c, in, {8})) return Carbonyl::none;
  bool o = false, n = false;
  for (auto [v, k] : g.adj[C]) {
    const auto V = static_cast<std::size_t>(v);
    if (!in[V] || contains(g.dbl[C], v)) continue;
    o = o || g.z[V] == 8;
    n = n || g.z[V] == 7;
  }
  return o ? Carbonyl::acid_or_ester : n ? Carbonyl::amide : Carbonyl::ketone_or_aldehyde;
}

// What a cation (or radical) centred on atom s of the atom set `in` would be.
std::vector<std::string> site_kinds(const Graph& g, int s, const std::vector<char>& in) {
  const auto S = static_cast<std::size_t>(s);
  const int z = g.z[S];
  if (z == 7) return {n_kind(g, s, in) + " site"};
  if (z == 8) return {o_kind(g, s, in) + " site"};
  if (z != 6) return {g.sym[S] + " site"};
  if (g.arom[S]) return {"aryl C site"};
  switch (carbonyl_kind(g, s, in)) {
    case Carbonyl::acid_or_ester:
      return {"carboxyl C site"};
    case Carbonyl::amide:
      return {"carbamoyl C site"};
    case Carbonyl::ketone_or_aldehyde:
      return {"acylium C site"};
    case Carbonyl::none:
      break;
  }
  if (double_to(g, s, in, {7, 16})) return {"C=N or C=S carbon site"};
  if (any_partner_in(g.dbl[S], in)) return {"vinyl C site"};
  if (any_partner_in(g.tpl[S], in)) return {"alkynyl or nitrile C site"};
  static const char* const kDegree[] = {"methyl", "primary", "secondary", "tertiary", "quaternary"};
  std::set<std::string> kinds;
  int degree = 0;
  for (auto [v, k] : g.adj[S]) {
    const auto V = static_cast<std::size_t>(v);
    if (!in[V]) continue;
    ++degree;
    const int zv = g.z[V];
    if (zv == 7) {
      kinds.insert("site alpha to " + n_kind(g, v, in));
    } else if (zv == 8) {
      kinds.insert("site alpha to " + o_kind(g, v, in));
    } else if (zv == 16) {
      kinds.insert("site alpha to S");
    } else if (is_halogen(zv)) {
      kinds.insert("site alpha to halogen");
    } else if (g.arom[V]) {
      kinds.insert("benzylic site");
    } else if (zv == 6 && double_to(g, v, in, {8})) {
      kinds.insert("site alpha to carbonyl");
    } else if (zv == 6 && any_partner_in(g.dbl[V], in)) {
      kinds.insert("allylic site");
    } else if (zv == 6 && any_partner_in(g.tpl[V], in)) {
      kinds.insert("propargylic site");
    }
  }
  kinds.insert(std::string(kDegree[std::min(degree, 4)]) + " C site");
  return {kinds.begin(), kinds.end()};
}

std::vector<std::string> composition_names(const Graph& g, const std::vector<char>& in) {
  std::vector<std::string> f;
  static const std::pair<int, const char*> kElements[] = {{7, "N"}, {8, "O"},   {16, "S"},  {15, "P"},
                                                          {9, "F"}, {17, "Cl"}, {35, "Br"}, {53, "I"}};
  for (auto [z, name] : kElements) {
    for (int a = 0; a < g.n; ++a) {
      if (in[static_cast<std::size_t>(a)] && g.z[static_cast<std::size_t>(a)] == z) {
        f.push_back(std::string("has ") + name);
        break;
      }
    }
  }
  bool arom = false, carbonyl = false, all_carbon = true;
  for (int a = 0; a < g.n; ++a) {
    const auto A = static_cast<std::size_t>(a);
    if (!in[A]) continue;
    arom = arom || g.arom[A];
    carbonyl = carbonyl || (g.z[A] == 6 && double_to(g, a, in, {8}));
    all_carbon = all_carbon && g.z[A] == 6 && !g.arom[A];
  }
  if (arom) f.push_back("has aromatic atoms");
  if (carbonyl) f.push_back("has C=O");
  if (all_carbon) f.push_back("is all-carbon aliphatic");
  return f;
}

const char* size_bin(int n) {
  if (n <= 1) return "1";
  if (n <= 2) return "2";
  if (n <= 3) return "3";
  if (n <= 5) return "4-5";
  if (n <= 8) return "6-8";
  if (n <= 12) return "9-12";
  return "13+";
}

std::string shift_text(int h) {
  if (h == 0) return "H kept";
  std::string s = h > 0 ? "+" : "";
  s += std::to_string(h);
  s += " H";
  return s;
}

// Twice the rings plus double bonds of the atoms `in` with their own
// hydrogens; each hydrogen more takes one off.
int twice_rdbe(const Graph& g, const std::vector<char>& in) {
  int c = 0, n = 0, x = 0;
  for (int a = 0; a < g.n; ++a) {
    const auto A = static_cast<std::size_t>(a);
    if (!in[A]) continue;
    const int z = g.z[A];
    if (z == 6 || z == 14) {
      ++c;
    } else if (z == 7 || z == 15) {
      ++n;
    } else if (is_halogen(z)) {
      ++x;
    }
    x += g.h[A];
  }
  return 2 * c - x + n + 2;
}

// Rings plus double bonds from twice_rdbe, in half steps, "<=0" and ">=5" at the ends.
std::string rdbe_text(int twice) {
  if (twice <= 0) return "<=0";
  if (twice >= 10) return ">=5";
  return twice % 2 == 0 ? std::to_string(twice / 2) : std::to_string(twice / 2) + ".5";
}

bool sp3_carbon(const Graph& g, int a) {
  const auto A = static_cast<std::size_t>(a);
  return g.z[A] == 6 && !g.arom[A] && g.dbl[A].empty() && g.tpl[A].empty();
}

// Whether a simple path runs through at least `want` sp3 carbons.
bool sp3_chain_at_least(const Graph& g, int want) {
  std::vector<char> on(static_cast<std::size_t>(g.n), 0);
  auto dfs = [&](auto&& self, int u, int len) -> bool {
    if (len >= want) return true;
    for (auto [v, k] : g.adj[static_cast<std::size_t>(u)]) {
      if (on[static_cast<std::size_t>(v)] || !sp3_carbon(g, v)) continue;
      on[static_cast<std::size_t>(v)] = 1;
      const bool found = self(self, v, len + 1);
      on[static_cast<std::size_t>(v)] = 0;
      if (found) return true;
    }
    return false;
  };
  for (int a = 0; a < g.n; ++a) {
    if (!sp3_carbon(g, a)) continue;
    on[static_cast<std::size_t>(a)] = 1;
    const bool found = dfs(dfs, a, 1);
    on[static_cast<std::size_t>(a)] = 0;
    if (found) return true;
  }
  return false;
}

// What kind of molecule it is: features of the molecular ion only.
std::vector<std::string> molecule_names(const Graph& g) {
  std::vector<std::string> f;
  f.push_back("aromatic rings " + std::to_string(std::min(g.aromatic_rings, 3)));
  bool oh = false, nitrogen = false, carbonyl = false, halogen = false, branched = false;
  const std::vector<char> all(static_cast<std::size_t>(g.n), 1);
  for (int a = 0; a < g.n; ++a) {
    const auto A = static_cast<std::size_t>(a);
    oh = oh || (g.z[A] == 8 && g.h[A] > 0);
    nitrogen = nitrogen || g.z[A] == 7;
    carbonyl = carbonyl || (g.z[A] == 6 && double_to(g, a, all, {8}));
    halogen = halogen || is_halogen(g.z[A]);
    if (sp3_carbon(g, a)) {
      int carbons = 0;
      for (auto [v, k] : g.adj[A]) carbons += g.z[static_cast<std::size_t>(v)] == 6 ? 1 : 0;
      branched = branched || carbons >= 3;
    }
  }
  if (g.aromatic_rings == 0) {
    f.push_back("aliphatic");
    if (oh) f.push_back("aliphatic with OH");
    if (nitrogen) f.push_back("aliphatic with N");
  }
  f.push_back(std::string("heavy atoms ") + size_bin(g.n));
  if (carbonyl) f.push_back("has C=O");
  if (halogen) f.push_back("has halogen");
  f.push_back("rings " + std::to_string(std::min(g.rings, 3)));
  if (branched) f.push_back("branched sp3 carbon");
  if (sp3_chain_at_least(g, 4)) f.push_back("sp3 carbon chain >= 4");
  for (std::string& x : f) x = "molecular ion: " + x;
  return f;
}

const char* kBondKind(double order) {
  if (order == 1.0) return "single";
  if (order == 1.5) return "aromatic";
  if (order == 2.0) return "double";
  if (order == 3.0) return "triple";
  return "other";
}

// The acceptor of a McLafferty rearrangement across the cut alpha-beta:
// `alpha`, a saturated carbon on the `in` side, bears a carbon whose double
// bond to O or N stays on that side (or an aromatic carbon); `beta`, a
// saturated carbon on the other side, has a saturated carbon neighbour with
// hydrogens there (gamma). The six-membered transition state moves a gamma
// hydrogen to the acceptor and the alpha-beta bond breaks: the acceptor's
// side keeps the hydrogen (+1 H, the enol or its imine and ring analogues)
// and the other side leaves as an alkene (or keeps the charge, -1 H).
// Returns the acceptor's kind, or nullptr when the cut is no such bond.
const char* mclafferty_acceptor(const Graph& g, int alpha, int beta, const std::vector<char>& in) {
  const auto B = static_cast<std::size_t>(beta);
  if (!sp3_carbon(g, alpha) || !sp3_carbon(g, beta)) return nullptr;
  bool gamma_h = false;
  for (auto [x, k] : g.adj[B]) {
    const auto X = static_cast<std::size_t>(x);
    gamma_h = gamma_h || (x != alpha && !in[X] && sp3_carbon(g, x) && g.h[X] > 0);
  }
  if (!gamma_h) return nullptr;
  const char* kind = nullptr;
  for (auto [c, k] : g.adj[static_cast<std::size_t>(alpha)]) {
    const auto C = static_cast<std::size_t>(c);
    if (c == beta || !in[C] || g.z[C] != 6) continue;
    switch (carbonyl_kind(g, c, in)) {
      case Carbonyl::acid_or_ester:
        return "acid or ester C=O";
      case Carbonyl::amide:
        return "amide C=O";
      case Carbonyl::ketone_or_aldehyde:
        return "ketone or aldehyde C=O";
      case Carbonyl::none:
        break;
    }
    if (double_to(g, c, in, {7})) return "C=N";
    if (g.arom[C] && !kind) kind = "aromatic ring";
  }
  return kind;
}

// The weight table, open-addressed by an FNV-1a hash of the name: a lookup
// is one short probe over a small flat array of hashes (every ion of every
// molecule makes a dozen of them), the name compared only where its hash is.
class WeightTable {
 public:
  WeightTable() : weights_(ei_weights()) {
    std::size_t size = 16;
    while (size < 2 * weights_.size()) size *= 2;
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    for (std::size_t k = 0; k < weights_.size(); ++k) {
      const std::string_view name(weights_[k].name);
      const std::uint64_t h = hash(name);
      std::size_t i = h & mask_;
      bool seen = false;  // a name twice: its first weight
      for (; slots_[i].entry != kEmpty; i = (i + 1) & mask_) seen = seen || name == weights_[slots_[i].entry].name;
      if (!seen) slots_[i] = Slot{h, static_cast<std::uint32_t>(k)};
    }
  }

  double operator()(std::string_view name) const {
    const std::uint64_t h = hash(name);
    for (std::size_t i = h & mask_; slots_[i].entry != kEmpty; i = (i + 1) & mask_) {
      if (slots_[i].hash == h && name == weights_[slots_[i].entry].name) return weights_[slots_[i].entry].weight;
    }
    return 0.0;
  }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t entry = kEmpty;  // in weights_
  };

  static std::uint64_t hash(std::string_view s) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
  }

  std::span<const EiWeight> weights_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

double weight_of(std::string_view name) {
  static const WeightTable table;
  return table(name);
}

// The features of an ion (or a piece) as they are made: the sum of their
// weights times their values, in the order they come, and with `names` their
// names too (for explanations and the fitting script). Without names no
// string is built per feature: each name is written into one buffer, reused.
class FeatureSum {
 public:
  explicit FeatureSum(std::vector<EiFeature>* names) : names_(names) {}

  template <class... Parts>
  void add(double value, const Parts&... parts) {
    thread_local std::string name;
    name.clear();
    (name.append(parts), ...);
    total_ += weight_of(name) * value;
    if (names_) names_->emplace_back(name, value);
  }

  double total() const { return total_; }

 private:
  std::vector<EiFeature>* names_;
  double total_ = 0.0;
};

// Where the two cuts of a piece lie when both are ring bonds: the smallest
// ring holding both and how many of its atoms the piece keeps (ring_size 0
// when no ring holds both). A six-membered ring cut into an arc of four atoms
// a-b=c-d (b=c double or aromatic, a-b and c-d single) and one of two is a
// retro-Diels-Alder cleavage: the four make the diene, the two the ene.
struct RingPair {
  int ring_size = 0;
  int kept = 0;
  const char* retro_diels_alder = nullptr;  // which side the piece is
};

RingPair ring_pair(const Graph& g, const Piece& p) {
  RingPair out;
  const Ring* ring = nullptr;
  int i1 = -1, i2 = -1;
  for (const Ring& r : g.rings_in_order) {
    if (ring && r.bonds.size() >= ring->bonds.size()) continue;
    const auto a = std::find(r.bonds.begin(), r.bonds.end(), p.cuts[0].bond);
    const auto b = std::find(r.bonds.begin(), r.bonds.end(), p.cuts[1].bond);
    if (a == r.bonds.end() || b == r.bonds.end()) continue;
    ring = &r;
    i1 = static_cast<int>(a - r.bonds.begin());
    i2 = static_cast<int>(b - r.bonds.begin());
  }
  if (!ring) return out;
  const int n = static_cast<int>(ring->bonds.size());
  const auto wrap = [n](int k) { return static_cast<std::size_t>(((k % n) + n) % n); };
  out.ring_size = n;
  for (int v : ring->nodes) out.kept += p.in[static_cast<std::size_t>(v)] ? 1 : 0;
  if (n != 6) return out;
  // the arc after bond i1 up to bond i2: nodes i1 + 1 .. i2, (i2 - i1) mod n of them
  int first = i1, len = static_cast<int>(wrap(i2 - i1));
  if (len != 4) {
    first = i2;
    len = static_cast<int>(wrap(i1 - i2));
  }
  if (len != 4) return out;
  const auto order = [&](int k) { return g.bonds[static_cast<std::size_t>(ring->bonds[wrap(k)])].order; };
  const double ab = order(first + 1), bc = order(first + 2), cd = order(first + 3);
  if (ab != 1.0 || cd != 1.0 || (bc != 2.0 && bc != 1.5)) return out;
  out.retro_diels_alder = p.in[static_cast<std::size_t>(ring->nodes[wrap(first + 1)])] ? "retro-Diels-Alder, diene side"
                                                                                       : "retro-Diels-Alder, ene side";
  return out;
}

// What leaves when a molecule eliminates HX across the C-X single bond
// from `carbon` to `x`: X's side (the atom set `x_side`) goes with a
// hydrogen of a saturated carbon next to `carbon` on the other side (the
// beta hydrogen). An alcohol loses water, an alkyl ester its acid, an ether
// an alcohol, an alkyl halide the hydrogen halide. Returns what leaves, or
// nullptr when the bond is no such bond.
const char* eliminated(const Graph& g, int carbon, int x, const std::vector<char>& x_side) {
  const auto C = static_cast<std::size_t>(carbon);
  const auto X = static_cast<std::size_t>(x);
  if (!sp3_carbon(g, carbon)) return nullptr;
  bool beta_h = false;
  for (auto [b, k] : g.adj[C]) {
    const auto B = static_cast<std::size_t>(b);
    beta_h = beta_h || (b != x && !x_side[B] && sp3_carbon(g, b) && g.h[B] > 0);
  }
  if (!beta_h || g.arom[X] || !g.dbl[X].empty() || !g.tpl[X].empty()) return nullptr;
  switch (g.z[X]) {
    case 9:
    case 17:
    case 35:
    case 53:
      return "a hydrogen halide";
    case 16:
      return "hydrogen sulfide or a thiol";
    case 7:
      return n_kind(g, x, x_side) == "amine N" ? "ammonia or an amine" : nullptr;
    case 8:
      break;
    default:
      return nullptr;
  }
  if (g.h[X] > 0) return "water";
  // Else the O as a cation site on X's side would be named.
  const std::string o = o_kind(g, x, x_side);
  if (o == "ester or acid O") return "an acid";
  if (o == "aryl ether or phenol O") return "a phenol";
  for (auto [w, k] : g.adj[X]) {
    const auto W = static_cast<std::size_t>(w);
    if (w == carbon || !x_side[W]) continue;
    if (g.z[W] == 14) return "a silanol";
    if (g.z[W] == 6) return "an alcohol";
  }
  return nullptr;
}

// Shift-independent features of a piece (their weighted sum, and with
// `names` the features themselves), and its own site kinds.
struct PieceFeatures {
  std::vector<EiFeature> base;
  double base_score = 0.0;
  std::vector<std::string> own;
  std::vector<std::string> eliminations;  // named by the elimination across a cut and the piece's side of it
  double share = 1.0;
  const char* retro_diels_alder = nullptr;
};

PieceFeatures piece_features(const Graph& g, const Piece& p, const std::vector<char>& rest, bool names) {
  PieceFeatures out;
  FeatureSum base(names ? &out.base : nullptr);
  const int nc = static_cast<int>(p.cuts.size());
  out.share = 1.0 / nc;
  base.add(1.0, nc == 1 ? "one cut" : "two cuts");
  for (const Cut& c : p.cuts) {
    for (std::string& x : site_kinds(g, c.inside, p.in)) {
      base.add(out.share, x);
      out.own.push_back(std::move(x));
    }
    for (const std::string& x : site_kinds(g, c.outside, rest)) base.add(out.share, "neutral's ", x);
    if (!g.bonds[static_cast<std::size_t>(c.bond)].ring) {
      if (const char* hx = eliminated(g, c.inside, c.outside, rest)) {
        out.eliminations.push_back(std::string("eliminates ") + hx + ", alkene side");
      } else if (const char* xh = eliminated(g, c.outside, c.inside, p.in)) {
        out.eliminations.push_back(std::string("eliminates ") + xh + ", its own side");
      }
    }
    const std::string* a = &g.sym[static_cast<std::size_t>(c.inside)];
    const std::string* b = &g.sym[static_cast<std::size_t>(c.outside)];
    if (*b < *a) std::swap(a, b);
    const Bond& bond = g.bonds[static_cast<std::size_t>(c.bond)];
    base.add(out.share, "cut ", *a, "-", *b, " ", kBondKind(bond.order));
    if (bond.ring) base.add(out.share, "cut ring bond");
  }
  if (nc == 2 && g.bonds[static_cast<std::size_t>(p.cuts[0].bond)].ring) {
    const RingPair rp = ring_pair(g, p);
    if (rp.ring_size == 0) {
      base.add(1.0, "two ring cuts, no ring holds both");
    } else {
      const std::string size = rp.ring_size >= 7 ? "7+" : std::to_string(rp.ring_size);
      base.add(1.0, "two ring cuts, ring of ", size, ", keeps ", std::to_string(std::min(rp.kept, 6)));
    }
    out.retro_diels_alder = rp.retro_diels_alder;
  }
  for (const std::string& x : composition_names(g, rest)) base.add(1.0, "neutral ", x);
  base.add(1.0, "neutral heavy atoms ", size_bin(g.n - p.size));
  if (p.size > g.n - p.size) base.add(1.0, "piece larger than neutral");
  out.base_score = base.total();
  return out;
}

// Writes a formula term by term, in FormulaTerm order; with `labels` false
// every atom is written as its element (CH4O for CHD3O), which is how the
// model's features name it: a label changes masses, not chemistry.
class FormulaWriter {
 public:
  explicit FormulaWriter(bool labels) : labels_(labels) {}

  void term(const core::FormulaTerm& t, int n) {
    if (labels_) {
      put(t.text(), n);
      return;
    }
    if (pending_ && *pending_ != t.symbol) {
      put(*pending_, pending_n_);
      pending_n_ = 0;
    }
    pending_ = &t.symbol;
    pending_n_ += n;
  }

  std::string done() {
    if (pending_) put(*pending_, pending_n_);
    pending_ = nullptr;
    return std::move(s_);
  }

 private:
  void put(const std::string& t, int n) {
    if (n <= 0) return;
    s_ += t;
    if (n > 1) s_ += std::to_string(n);
  }

  bool labels_;
  std::string s_;
  const std::string* pending_ = nullptr;  // element being summed over its labels
  int pending_n_ = 0;
};

// Atom counts by formula term (C first, H second, the others by symbol;
// labelled atoms after their element's ordinary ones, written D or [13C]),
// kept in that order, none zero.
struct FormulaCounts {
  std::vector<std::pair<core::FormulaTerm, int>> counts;

  void add(const core::FormulaTerm& t, int n) {
    auto it = counts.begin() + static_cast<std::ptrdiff_t>(position(t));
    if (it != counts.end() && it->first == t) {
      it->second += n;
      if (it->second == 0) counts.erase(it);
    } else if (n != 0) {
      counts.emplace(it, t, n);
    }
  }

  int count(const core::FormulaTerm& t) const {
    const std::size_t k = position(t);
    return k < counts.size() && counts[k].first == t ? counts[k].second : 0;
  }

  std::string text(bool labels = true) const {
    FormulaWriter w(labels);
    for (const auto& [term, n] : counts) w.term(term, n);
    return w.done();
  }

 private:
  // Where term t is, or would go.
  std::size_t position(const core::FormulaTerm& t) const {
    const auto it = std::lower_bound(counts.begin(), counts.end(), t,
                                     [](const auto& entry, const core::FormulaTerm& x) { return entry.first < x; });
    return static_cast<std::size_t>(it - counts.begin());
  }
};

// The term of an element's ordinary atoms (looked up once), or of a labelled one.
core::FormulaTerm term_of(int atomic_number, int mass_number) {
  static const std::vector<core::FormulaTerm> ordinary = [] {
    std::vector<core::FormulaTerm> t;
    for (int z = 0; z <= 118; ++z) t.push_back(core::formula_term(z, 0));
    return t;
  }();
  if (mass_number == 0 && atomic_number >= 0 && atomic_number <= 118)
    return ordinary[static_cast<std::size_t>(atomic_number)];
  return core::formula_term(atomic_number, mass_number);
}

const core::FormulaTerm& hydrogen_term() {
  static const core::FormulaTerm h = term_of(1, 0);
  return h;
}

struct IonMakeup {
  spectra::IonComposition composition;
  FormulaCounts formula;
  int mz = 0;
};

IonMakeup makeup_of(spectra::IonComposition composition) {
  IonMakeup m;
  m.composition = std::move(composition);
  for (const spectra::ElementCount& e : m.composition.elements) {
    m.formula.add(term_of(e.atomic_number, 0), e.count);
    m.mz += e.count * core::nominal_atom_mass(e.atomic_number);
  }
  for (const spectra::LabelledAtom& l : m.composition.labelled) {
    m.formula.add(term_of(l.atomic_number, l.mass_number), 1);
    m.mz += l.mass_number;
  }
  return m;
}

// The atoms of the nodes `in` with their hydrogen atoms.
std::vector<int> atoms_of(const Graph& g, const std::vector<char>& in) {
  std::vector<int> atoms;
  for (int a = 0; a < g.n; ++a) {
    if (!in[static_cast<std::size_t>(a)]) continue;
    atoms.push_back(g.atom[static_cast<std::size_t>(a)]);
    for (int x : g.h_atoms[static_cast<std::size_t>(a)]) atoms.push_back(x);
  }
  return atoms;
}

// The makeup with `h` more natural hydrogens (h may be negative when the
// makeup holds that many natural ones).
IonMakeup with_natural_hydrogens(const IonMakeup& m, int h) {
  IonMakeup out = m;
  auto& el = out.composition.elements;
  auto it = std::find_if(el.begin(), el.end(), [](const spectra::ElementCount& e) { return e.atomic_number >= 1; });
  if (it != el.end() && it->atomic_number == 1) {
    it->count += h;
    if (it->count == 0) el.erase(it);
  } else if (h > 0) {
    el.insert(it, spectra::ElementCount{1, h});
  }
  out.formula.add(hydrogen_term(), h);
  out.mz += h;
  return out;
}

// The hydrogens the rest of the molecule (the nodes outside a piece) can give
// to it: how many natural ones, and the labelled ones lightest first (by atom
// index among equals).
struct HydrogenDonor {
  int natural = 0;
  std::vector<std::pair<int, int>> labelled;  // (mass number, atom index)
  int total() const { return natural + static_cast<int>(labelled.size()); }
};

HydrogenDonor donor_of(const Graph& g, const std::vector<char>& rest) {
  HydrogenDonor d;
  for (int a = 0; a < g.n; ++a) {
    const auto A = static_cast<std::size_t>(a);
    if (!rest[A]) continue;
    d.natural += g.natural_h[A];
    for (int x : g.h_atoms[A]) {
      const int label = core::mass_label(*g.mol->getAtomWithIdx(static_cast<unsigned>(x)));
      if (label != 0) d.labelled.emplace_back(label, x);
    }
  }
  std::sort(d.labelled.begin(), d.labelled.end());
  return d;
}

// The ion of the piece's atoms with `h` hydrogens moved onto it (h > 0, from
// `donor`, which holds them) or off it (h < 0, from the piece's own, which
// hold them): natural hydrogens first, then labelled ones.
IonMakeup shifted(const Graph& g, const std::vector<int>& atoms, const IonMakeup& unshifted, int natural_in,
                  const HydrogenDonor& donor, int h) {
  if (h == 0) return unshifted;
  if (h < 0) {
    if (natural_in >= -h) return with_natural_hydrogens(unshifted, h);
    return makeup_of(spectra::ion_composition(*g.mol, atoms, h));
  }
  if (donor.natural >= h) return with_natural_hydrogens(unshifted, h);
  IonMakeup m = with_natural_hydrogens(unshifted, donor.natural);
  for (int k = 0; k < h - donor.natural; ++k) {
    const int mass = donor.labelled[static_cast<std::size_t>(k)].first;
    m.composition.labelled.push_back(spectra::LabelledAtom{1, mass});
    m.formula.add(term_of(1, mass), 1);
    m.mz += mass;
  }
  return m;
}

// The formula of what the molecule loses to become the ion (the ion is made
// of the molecule's atoms, so no count goes below 0).
std::string neutral_text(const FormulaCounts& molecule, const FormulaCounts& ion, bool labels = true) {
  FormulaWriter w(labels);
  for (const auto& [term, n] : molecule.counts) {
    const int d = n - ion.count(term);
    if (d > 0) w.term(term, d);
  }
  return w.done();
}

// Every candidate ion, handed to `emit(ion, its score, shared features,
// their score, composition)` where the shared features (the molecule's for
// the molecular ions, the piece's for its fragment ions) are kept apart from
// the ion's own. A score is the sum of the features' weights times their
// values, in the order the features come. With `names` false the features
// are only scored: ion.features, ion.neutral and the shared list stay empty.
template <class Emit>
void enumerate_ions(const RDKit::ROMol& mol, const molecule::Perception& perception, const core::InterruptCheck& poll,
                    bool names, Emit&& emit) {
  Graph g = make_graph(mol, perception);
  const std::vector<char> all(static_cast<std::size_t>(g.n), 1);
  const std::vector<int> all_atoms = atoms_of(g, all);
  int total_h = 0;
  for (int x : g.h) total_h += x;
  const IonMakeup whole = makeup_of(spectra::ion_composition(mol, all_atoms, 0));
  std::vector<EiFeature> molecular;
  FeatureSum molecular_sum(names ? &molecular : nullptr);
  for (const std::string& x : molecule_names(g)) molecular_sum.add(1.0, x);
  molecular_sum.add(1.0, "molecular ion");
  for (int h : {0, -1, -2}) {
    if (total_h + h < 0) continue;
    EiIon ion;
    FeatureSum own(names ? &ion.features : nullptr);
    const IonMakeup m = h == 0 ? whole : makeup_of(spectra::ion_composition(mol, all_atoms, h));
    ion.mz = m.mz;
    ion.formula = m.formula.text();
    ion.hydrogen_shift = h;
    ion.molecular = true;
    own.add(1.0, "molecular ion, ", shift_text(h));
    if (ion.mz <= kFormulaFeatureMaxMz) own.add(1.0, "ion ", m.formula.text(false));
    emit(ion, own.total(), molecular, molecular_sum.total(), m.composition);
  }
  std::vector<char> rest;
  for_each_piece(g, poll, [&](const Piece& p) {
    int hh = 0, natural_in = 0;
    for (int a = 0; a < g.n; ++a) {
      if (!p.in[static_cast<std::size_t>(a)]) continue;
      hh += g.h[static_cast<std::size_t>(a)];
      natural_in += g.natural_h[static_cast<std::size_t>(a)];
    }
    rest.resize(p.in.size());
    for (std::size_t a = 0; a < rest.size(); ++a) rest[a] = p.in[a] ? 0 : 1;
    const HydrogenDonor donor = donor_of(g, rest);
    const PieceFeatures pf = piece_features(g, p, rest, names);
    const char* cuts = p.cuts.size() == 1 ? "one cut, " : "two cuts, ";
    const std::vector<int> atoms = atoms_of(g, p.in);
    const IonMakeup unshifted = makeup_of(spectra::ion_composition(mol, atoms, 0));
    const int piece_twice_rdbe = twice_rdbe(g, p.in);
    const char* enol = nullptr;
    const char* alkene = nullptr;
    if (p.cuts.size() == 1) {
      const Cut& c = p.cuts.front();
      enol = mclafferty_acceptor(g, c.inside, c.outside, p.in);
      alkene = mclafferty_acceptor(g, c.outside, c.inside, rest);
    }
    for (int h : kHydrogenShifts) {
      if (hh + h < 0 || h > donor.total()) continue;
      const IonMakeup m = shifted(g, atoms, unshifted, natural_in, donor, h);
      EiIon ion;
      FeatureSum own(names ? &ion.features : nullptr);
      ion.mz = m.mz;
      ion.formula = m.formula.text();
      if (names) ion.neutral = neutral_text(whole.formula, m.formula);
      ion.hydrogen_shift = h;
      const std::string shift = shift_text(h);
      own.add(1.0, cuts, shift);
      for (const std::string& x : pf.own) own.add(pf.share, x, ", ", shift);
      for (const std::string& x : pf.eliminations) own.add(pf.share, x, ", ", shift);
      own.add(1.0, "ion RDBE ", rdbe_text(piece_twice_rdbe - h));
      if (ion.mz <= kFormulaFeatureMaxMz) own.add(1.0, "ion ", m.formula.text(false));
      const std::string loss = neutral_text(whole.formula, m.formula, false);
      if (!loss.empty()) own.add(1.0, "loses ", loss);
      if (h == 1 && enol) {
        own.add(1.0, "McLafferty ion, gamma H to the ", enol);
        own.add(1.0, "McLafferty ion, molecule of heavy atoms ", size_bin(g.n));
      }
      if (h == -1 && alkene) own.add(1.0, "McLafferty alkene ion, beside ", alkene);
      if (pf.retro_diels_alder) own.add(1.0, pf.retro_diels_alder, ", ", shift);
      emit(ion, own.total(), pf.base, pf.base_score, m.composition);
    }
  });
}

// Isotope clusters by ion formula (the formula, labelled atoms as their own
// terms, tells the composition), kept per thread across molecules (a cluster
// depends on its composition only, so what is cached never changes a
// result); emptied between molecules when it has grown large, so references
// stay valid while one molecule is worked on.
thread_local std::unordered_map<std::string, std::vector<spectra::IsotopePeak>> cluster_cache;

const std::vector<spectra::IsotopePeak>& cluster_of(const std::string& formula, const spectra::IonComposition& c) {
  auto& cache = cluster_cache;
  auto it = cache.find(formula);
  if (it != cache.end()) return it->second;
  return cache.emplace(formula, spectra::isotope_cluster(c.elements, c.labelled)).first->second;
}

// The intensity exp(score) of the ions of one formula, summed: they share
// one composition, so one isotope cluster.
struct FormulaSum {
  std::string formula;
  int mz = 0;
  int natural_mz = 0;      // the m/z with every labelled atom at its element's usual mass
  double intensity = 0.0;  // relative to exp(reference score)
  const std::vector<spectra::IsotopePeak>* cluster = nullptr;
  spectra::IonComposition composition;
  bool network_only = false;  // an ion of the fingerprint network alone (add_network)
};

// One ion of the molecule with its score and features, for explanations.
struct ScoredIon {
  std::size_t formula = 0;  // in ModelRun::formulas
  double score = 0.0;
  EiIon ion;
};

// One pass of the model over a molecule's candidate ions.
struct ModelRun {
  std::vector<FormulaSum> formulas;  // in order of first appearance
  double reference = -HUGE_VAL;      // the score the intensities are relative to
  std::vector<ScoredIon> ions;       // with `keep_ions` only
  int molecular_mz = -1;             // the intact molecule's ion, hydrogens kept, labels as natural atoms
  IonMakeup whole;                   // the intact molecule's make-up
  // Per formula: the log of the factor the fingerprint network multiplied
  // its intensity by, and the network's intensity at its m/z (of its base).
  std::vector<double> network_log_factor;
  std::vector<double> network_intensity;
};

// Scores beyond the reference by more than this move the reference up, so no
// sum overflows (an ion that much weaker than the strongest gives nothing).
constexpr double kRescaleAbove = 50.0;

ModelRun run_model(const RDKit::ROMol& mol, const molecule::Perception& perception, const core::InterruptCheck& poll,
                   bool keep_ions) {
  ModelRun run;
  if (cluster_cache.size() >= 100000) cluster_cache.clear();
  std::unordered_map<std::string, std::size_t> index;
  enumerate_ions(
      mol, perception, poll, keep_ions,
      [&](EiIon& ion, double own_score, const std::vector<EiFeature>& shared, double shared_score,
          const spectra::IonComposition& c) {
        const double s = shared_score + own_score;
        if (run.reference == -HUGE_VAL) {
          run.reference = s;
        } else if (s > run.reference + kRescaleAbove) {
          const double factor = std::exp(run.reference - s);
          for (FormulaSum& f : run.formulas) f.intensity *= factor;
          run.reference = s;
        }
        auto [at, added] = index.try_emplace(ion.formula, run.formulas.size());
        if (added) {
          int natural = ion.mz;
          for (const spectra::LabelledAtom& l : c.labelled)
            natural += core::nominal_atom_mass(l.atomic_number) - l.mass_number;
          run.formulas.push_back(FormulaSum{ion.formula, ion.mz, natural, 0.0, &cluster_of(ion.formula, c), c, false});
        }
        if (ion.molecular && ion.hydrogen_shift == 0) {
          run.molecular_mz = run.formulas[at->second].natural_mz;
          run.whole = makeup_of(c);
        }
        run.formulas[at->second].intensity += std::exp(s - run.reference);
        if (keep_ions) {
          ion.features.insert(ion.features.begin(), shared.begin(), shared.end());
          run.ions.push_back(ScoredIon{at->second, s, std::move(ion)});
        }
      });
  return run;
}

// The fingerprint network's part (fingerprint_network.h). With share s of
// the combination, n(z) the network's intensity at m/z z over its base
// (its output squared, raised to fingerprint_network_exponent()), E_f a formula's intensity from the ion scores, top
// the base of the spectrum those alone give and T(z) the sum of E_f over the
// formulas whose own m/z is z, every formula's intensity becomes
//   E_f ((1 - s) / top + s n(z_f) / T(z_f)):
// the network's intensity at an m/z goes to the ions of that m/z in
// proportion to the ion model's intensities (it adds no ion and no m/z), and
// every formula is then spread over its own isotope cluster as before. Up to
// one scale for the whole molecule this multiplies E_f by
//   phi(z) = 1 + s / (1 - s) n(z) top / T(z),
// whose log is the network's named part of the ion's score. The network
// knows molecules of natural composition only: a molecule with labelled
// atoms is read by it without its labels, and each ion at its m/z with
// every label at its element's usual mass (a label moves masses, not the
// chemistry).
std::unique_ptr<RDKit::ROMol> without_labels(const RDKit::ROMol& mol) {
  bool labelled = false;
  for (const RDKit::Atom* a : mol.atoms()) labelled = labelled || a->getIsotope() != 0;
  if (!labelled) return nullptr;
  auto copy = std::make_unique<RDKit::RWMol>(mol);
  for (RDKit::Atom* a : copy->atoms()) a->setIsotope(0);
  return copy;
}

int natural_count(const spectra::IonComposition& c, int atomic_number) {
  for (const spectra::ElementCount& e : c.elements) {
    if (e.atomic_number == atomic_number) return e.count;
  }
  return 0;
}

// Twice the rings plus double bonds of a make-up, counted as twice_rdbe counts them.
int twice_rdbe_of(const spectra::IonComposition& c) {
  int t = 2;
  const auto add = [&t](int z, int n) {
    if (z == 6 || z == 14) {
      t += 2 * n;
    } else if (z == 7 || z == 15) {
      t += n;
    } else if (z == 1 || is_halogen(z)) {
      t -= n;
    }
  };
  for (const spectra::ElementCount& e : c.elements) add(e.atomic_number, e.count);
  for (const spectra::LabelledAtom& l : c.labelled) add(l.atomic_number, 1);
  return t;
}

// The formula of a network-only ion at natural m/z z (see add_network): the
// strongest formula one hydrogen below or above it, else two, with one
// hydrogen more or fewer (or two), when the molecule has the hydrogens and
// the ion stays at or above zero rings plus double bonds; else the
// hydrocarbon of the most carbons the molecule has room for. Nothing when
// none is possible.
// The formulas of a run by their natural m/z, each m/z's in formula order.
class ByNaturalMz {
 public:
  explicit ByNaturalMz(const std::vector<FormulaSum>& formulas) {
    for (const FormulaSum& f : formulas) {
      low_ = std::min(low_, f.natural_mz);
      high_ = std::max(high_, f.natural_mz);
    }
    start_.assign(static_cast<std::size_t>(high_ - low_ + 2), 0);
    for (const FormulaSum& f : formulas) ++start_[slot(f.natural_mz) + 1];
    for (std::size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
    order_.resize(formulas.size());
    std::vector<std::size_t> next(start_.begin(), start_.end() - 1);
    for (std::size_t i = 0; i < formulas.size(); ++i) order_[next[slot(formulas[i].natural_mz)]++] = i;
  }

  std::span<const std::size_t> at(int z) const {
    if (z < low_ || z > high_) return {};
    const std::size_t k = slot(z);
    return {order_.data() + start_[k], start_[k + 1] - start_[k]};
  }

 private:
  std::size_t slot(int z) const { return static_cast<std::size_t>(z - low_); }

  int low_ = 0;
  int high_ = 0;
  std::vector<std::size_t> start_;
  std::vector<std::size_t> order_;
};

std::optional<IonMakeup> network_ion(const ModelRun& run, const ByNaturalMz& at_natural,
                                     const std::vector<double>& before, int z) {
  const int molecule_h = natural_count(run.whole.composition, 1);
  for (const int d : {1, -1, 2, -2}) {
    const FormulaSum* best = nullptr;
    double best_intensity = 0.0;
    for (const std::size_t i : at_natural.at(z - d)) {
      const FormulaSum& f = run.formulas[i];
      const int h = natural_count(f.composition, 1) + d;
      if (h < 0 || h > molecule_h || twice_rdbe_of(f.composition) - d < 0) continue;
      if (!best || before[i] > best_intensity) {
        best = &run.formulas[i];
        best_intensity = before[i];
      }
    }
    if (best) return with_natural_hydrogens(makeup_of(best->composition), d);
  }
  const int molecule_c = natural_count(run.whole.composition, 6);
  for (int c = std::min(molecule_c, z / 12); c > 0; --c) {
    const int h = z - 12 * c;
    if (h > molecule_h || 2 * c + 2 - h < 0) continue;
    spectra::IonComposition hydrocarbon;
    if (h > 0) hydrocarbon.elements.push_back({1, h});
    hydrocarbon.elements.push_back({6, c});
    return makeup_of(std::move(hydrocarbon));
  }
  return std::nullopt;
}

void add_network(ModelRun& run, const RDKit::ROMol& mol, const core::InterruptCheck& poll, bool keep_ions) {
  const std::size_t n_formulas = run.formulas.size();
  run.network_log_factor.assign(n_formulas, 0.0);
  run.network_intensity.assign(n_formulas, 0.0);
  const double share = fingerprint_network_share();
  if (n_formulas == 0 || run.molecular_mz < 0 || !(share > 0.0) || !(share < 1.0)) return;
  // A molecule too heavy for the network's span: its outputs would stop
  // short of the molecule's own m/z and their base would be some fragment's
  // (and it was fitted on lighter molecules), so it takes no part.
  const FingerprintNetworkShape shape = fingerprint_network_shape();
  if (run.molecular_mz + shape.above_mass >= shape.span) return;
  core::poll(poll);
  const std::unique_ptr<RDKit::ROMol> natural = without_labels(mol);
  const NetworkSpectrum net = fingerprint_network(natural ? *natural : mol, run.molecular_mz);
  core::poll(poll);
  if (!(net.mixed_max > 0.0)) return;
  // The ion model's spectrum (its base, top) and T(z), by m/z.
  int high = 0;
  for (const FormulaSum& f : run.formulas) {
    high = std::max(high, f.natural_mz);
    for (const spectra::IsotopePeak& p : *f.cluster) high = std::max(high, p.mz);
  }
  std::vector<double> cells(static_cast<std::size_t>(high) + 1, 0.0);
  std::vector<double> at_mz(cells.size(), 0.0);
  std::vector<char> reached(cells.size(), 0);
  std::vector<double> before(n_formulas);
  for (std::size_t i = 0; i < n_formulas; ++i) {
    if ((i & 255) == 0) core::poll(poll);
    const FormulaSum& f = run.formulas[i];
    for (const spectra::IsotopePeak& p : *f.cluster) {
      if (p.mz >= 0) cells[static_cast<std::size_t>(p.mz)] += p.abundance * f.intensity;
    }
    if (f.natural_mz >= 0) {
      at_mz[static_cast<std::size_t>(f.natural_mz)] += f.intensity;
      reached[static_cast<std::size_t>(f.natural_mz)] = 1;
    }
    before[i] = f.intensity;
  }
  double top = 0.0;
  for (const double v : cells) top = std::max(top, v);
  if (!(top > 0.0)) return;
  const ByNaturalMz at_natural(run.formulas);
  const double base = net.mixed_max * net.mixed_max;
  const double ratio = share / (1.0 - share);
  const double exponent = fingerprint_network_exponent();
  std::vector<double> network(net.mixed.size());
  for (std::size_t z = 0; z < network.size(); ++z) {
    const double y = net.mixed[z];
    network[z] = exponent == 1.0 ? y * y / base : std::pow(y * y / base, exponent);
  }
  const auto network_at = [&network](int z) {
    return z < 0 || z >= static_cast<int>(network.size()) ? 0.0 : network[static_cast<std::size_t>(z)];
  };
  for (std::size_t i = 0; i < n_formulas; ++i) {
    FormulaSum& f = run.formulas[i];
    const double n = network_at(f.natural_mz);
    const double t = f.natural_mz >= 0 ? at_mz[static_cast<std::size_t>(f.natural_mz)] : 0.0;
    if (!(n > 0.0) || !(t > 0.0)) continue;
    const double phi = 1.0 + ratio * n * top / t;
    f.intensity *= phi;
    run.network_log_factor[i] = std::log(phi);
    run.network_intensity[i] = n;
  }
  // The m/z no candidate ion reaches, up to the molecule's: the network's
  // intensity there goes to an ion of its own.
  for (int z = 1; z <= run.molecular_mz; ++z) {
    if ((z & 63) == 0) core::poll(poll);
    const double n = network_at(z);
    if (!(ratio * n >= kNetworkIonThreshold) || (z <= high && reached[static_cast<std::size_t>(z)])) continue;
    const std::optional<IonMakeup> m = network_ion(run, at_natural, before, z);
    if (!m) continue;
    FormulaSum f;
    f.formula = m->formula.text();
    f.mz = m->mz;
    f.natural_mz = z;
    f.intensity = ratio * n * top;
    f.cluster = &cluster_of(f.formula, m->composition);
    f.composition = m->composition;
    f.network_only = true;
    if (keep_ions) {
      ScoredIon ion;
      ion.formula = run.formulas.size();
      ion.score = run.reference + std::log(f.intensity);
      ion.ion.mz = f.mz;
      ion.ion.formula = f.formula;
      ion.ion.neutral = neutral_text(run.whole.formula, m->formula);
      run.ions.push_back(std::move(ion));
    }
    run.formulas.push_back(std::move(f));
    run.network_log_factor.push_back(0.0);
    run.network_intensity.push_back(n);
  }
}

// One formula's (or ion's) part of one m/z.
struct Part {
  std::size_t source = 0;
  int offset = 0;
  double value = 0.0;
};

// The parts of one m/z: their sum, and where they lie in Spread::parts.
struct Cell {
  int mz = 0;
  double value = 0.0;
  std::size_t first = 0;
  std::size_t count = 0;
};

// Each formula's intensity spread over its isotope cluster: the parts in
// ascending m/z (each m/z's in formula order) and their sums per m/z.
struct Spread {
  std::vector<Part> parts;
  std::vector<Cell> cells;  // ascending m/z

  std::span<const Part> parts_of(const Cell& c) const { return {parts.data() + c.first, c.count}; }
};

Spread spread(const std::vector<FormulaSum>& formulas, const core::InterruptCheck& poll) {
  std::vector<std::pair<int, Part>> at;
  for (std::size_t i = 0; i < formulas.size(); ++i) {
    if ((i & 255) == 0) core::poll(poll);
    const FormulaSum& f = formulas[i];
    for (const spectra::IsotopePeak& p : *f.cluster)
      at.emplace_back(p.mz, Part{i, p.mz - f.mz, p.abundance * f.intensity});
  }
  std::stable_sort(at.begin(), at.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  Spread out;
  out.parts.reserve(at.size());
  for (const auto& [mz, part] : at) {
    if (out.cells.empty() || out.cells.back().mz != mz) out.cells.push_back(Cell{mz, 0.0, out.parts.size(), 0});
    out.cells.back().value += part.value;
    ++out.cells.back().count;
    out.parts.push_back(part);
  }
  return out;
}

// The 0..999 intensity of a cell, 0 when it is dropped.
int peak_intensity(double value, double top) {
  const double x = std::nearbyint(999.0 * value / top);
  if (x <= 0.0 || x < kEiIntensityFloor * 999.0) return 0;
  return static_cast<int>(x);
}

// The formulas a peak names: the ions whose own m/z it is, else the isotope
// peaks reaching it ("CCl3 isotope +2"), the largest first (ties by name).
std::vector<std::string> peak_formulas(const std::vector<FormulaSum>& formulas, std::span<const Part> parts) {
  bool own = false;
  for (const Part& p : parts) own = own || p.offset == 0;
  std::vector<std::pair<double, std::string>> ranked;
  for (const Part& p : parts) {
    if (own != (p.offset == 0)) continue;
    const std::string& f = formulas[p.source].formula;
    ranked.emplace_back(-p.value, own ? f : f + " isotope " + (p.offset > 0 ? "+" : "") + std::to_string(p.offset));
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> out;
  out.reserve(ranked.size());
  for (auto& [v, f] : ranked) out.push_back(std::move(f));
  return out;
}

// The peaks of a run: its cells that are kept, with their intensities.
struct PeakCells {
  Spread spread;
  std::vector<std::pair<std::size_t, int>> kept;  // (cell, intensity), ascending m/z
};

PeakCells peak_cells(const ModelRun& run, const core::InterruptCheck& poll) {
  PeakCells s;
  s.spread = spread(run.formulas, poll);
  double top = 0.0;
  for (const Cell& c : s.spread.cells) top = std::max(top, c.value);
  if (!(top > 0.0)) return s;
  for (std::size_t k = 0; k < s.spread.cells.size(); ++k) {
    const int x = peak_intensity(s.spread.cells[k].value, top);
    if (x > 0) s.kept.emplace_back(k, x);
  }
  return s;
}

}  // namespace

std::vector<EiIon> ei_candidate_ions(const RDKit::ROMol& mol, const molecule::Perception& perception,
                                     const core::InterruptCheck& poll) {
  std::vector<EiIon> out;
  enumerate_ions(
      mol, perception, poll, true,
      [&out](EiIon& ion, double, const std::vector<EiFeature>& shared, double, const spectra::IonComposition& c) {
        ion.features.insert(ion.features.begin(), shared.begin(), shared.end());
        ion.cluster = spectra::isotope_cluster(c.elements, c.labelled);
        out.push_back(std::move(ion));
      });
  return out;
}

std::vector<EiIon> ei_candidate_ions(const std::string& smiles) {
  const std::optional<molecule::PreparedMolecule> prepared = molecule::prepare(smiles);
  if (!prepared) throw InvalidInput("EI model: cannot read the SMILES '" + smiles + "'");
  return ei_candidate_ions(*prepared->mol, prepared->perception);
}

std::vector<EiPeak> ei_peaks(const RDKit::ROMol& mol, const molecule::Perception& perception,
                             const core::InterruptCheck& poll) {
  ModelRun run = run_model(mol, perception, poll, false);
  add_network(run, mol, poll, false);
  const PeakCells s = peak_cells(run, poll);
  std::vector<EiPeak> out;
  out.reserve(s.kept.size());
  for (const auto& [k, x] : s.kept) {
    const Cell& cell = s.spread.cells[k];
    out.push_back(EiPeak{cell.mz, x, peak_formulas(run.formulas, s.spread.parts_of(cell))});
  }
  return out;
}

EiExplanation ei_explain(const RDKit::ROMol& mol, const molecule::Perception& perception,
                         const core::InterruptCheck& poll) {
  ModelRun run = run_model(mol, perception, poll, true);
  add_network(run, mol, poll, true);
  const PeakCells s = peak_cells(run, poll);
  EiExplanation out;
  // Each ion's score with the network's part, its intensity on the run's
  // scale, and its part of every m/z.
  std::vector<double> intensity(run.ions.size());
  double current = 0.0;
  for (std::size_t i = 0; i < run.ions.size(); ++i) {
    run.ions[i].score += run.network_log_factor[run.ions[i].formula];
    intensity[i] = std::exp(run.ions[i].score - run.reference);
    current += intensity[i];
  }
  std::map<int, std::vector<Part>> parts;
  for (const auto& [k, x] : s.kept) parts[s.spread.cells[k].mz];
  std::vector<char> reaches(run.ions.size(), 0);
  for (std::size_t i = 0; i < run.ions.size(); ++i) {
    if ((i & 255) == 0) core::poll(poll);
    const FormulaSum& f = run.formulas[run.ions[i].formula];
    for (const spectra::IsotopePeak& p : *f.cluster) {
      auto at = parts.find(p.mz);
      if (at == parts.end()) continue;
      at->second.push_back(Part{i, p.mz - f.mz, p.abundance * intensity[i]});
      reaches[i] = 1;
    }
  }
  // The ions reaching a kept peak, strongest first (ties in ion order).
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < run.ions.size(); ++i) {
    if (reaches[i]) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return intensity[a] > intensity[b]; });
  std::vector<std::size_t> number(run.ions.size(), 0);
  for (std::size_t k = 0; k < order.size(); ++k) {
    core::poll(poll);
    const std::size_t i = order[k];
    number[i] = k;
    const EiIon& ion = run.ions[i].ion;
    EiExplainedIon e{
        ion.mz, ion.formula, ion.neutral, ion.hydrogen_shift, ion.molecular, run.ions[i].score, intensity[i] / current,
        {}};
    std::map<std::string, double> values;  // a name may repeat; its values add up
    for (const auto& [name, value] : ion.features) values[name] += value;
    for (const auto& [name, value] : values) {
      const double w = weight_of(name);
      if (w != 0.0 && value != 0.0) e.features.push_back(EiFeatureContribution{name, value, w, w * value});
    }
    const double network = run.network_log_factor[run.ions[i].formula];
    if (run.formulas[run.ions[i].formula].network_only) {  // the network's alone: its whole score
      const double n = run.network_intensity[run.ions[i].formula];
      e.features.push_back(
          EiFeatureContribution{std::string(kEiNetworkFeature), n, run.ions[i].score / n, run.ions[i].score});
    } else if (network != 0.0) {
      const double n = run.network_intensity[run.ions[i].formula];
      e.features.push_back(EiFeatureContribution{std::string(kEiNetworkFeature), n, network / n, network});
    }
    std::stable_sort(e.features.begin(), e.features.end(),
                     [](const auto& a, const auto& b) { return std::abs(a.contribution) > std::abs(b.contribution); });
    out.ions.push_back(std::move(e));
  }
  for (const auto& [k, x] : s.kept) {
    const int mz = s.spread.cells[k].mz;
    EiExplainedPeak peak{mz, x, {}};
    const std::vector<Part>& here = parts.at(mz);
    double total = 0.0;
    for (const Part& p : here) total += p.value;
    for (const Part& p : here)
      peak.contributions.push_back(EiContribution{number[p.source], p.offset, p.value / total});
    std::stable_sort(peak.contributions.begin(), peak.contributions.end(),
                     [](const EiContribution& a, const EiContribution& b) { return a.share > b.share; });
    out.peaks.push_back(std::move(peak));
  }
  return out;
}

}  // namespace tessarin::prediction
