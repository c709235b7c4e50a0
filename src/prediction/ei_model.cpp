#include "prediction/ei_model.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/PeriodicTable.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/RingInfo.h>
#include <GraphMol/SmilesParse/SmilesParse.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "core/element_data.h"
#include "core/errors.h"
#include "core/fragment_formula.h"
#include "molecule/prepare_molecule.h"
#include "prediction/ei_weights.h"
#include "spectra/isotopes.h"

namespace tessarin::prediction {
namespace {

// Ion-formula features are named only up to this m/z: above it formulas are
// too many and too rare to weigh one by one.
constexpr int kFormulaFeatureMaxMz = 150;

constexpr int kHydrogenShifts[] = {-2, -1, 0, 1, 2};

bool is_halogen(int z) { return z == 9 || z == 17 || z == 35 || z == 53; }

struct Bond {
  int i = 0;
  int j = 0;
  double order = 1.0;  // 1.5 for aromatic bonds
  bool ring = false;
};

// The molecule as a graph of its heavy atoms; hydrogens are counts.
struct Graph {
  const RDKit::ROMol* mol = nullptr;
  int n = 0;
  std::vector<int> atom;  // graph node -> atom index of mol
  std::vector<int> z;
  std::vector<std::string> sym;
  std::vector<int> h;                     // hydrogens, natural and labelled
  std::vector<std::vector<int>> h_atoms;  // hydrogen atoms of mol folded into the node
  std::vector<char> arom;
  std::vector<std::vector<std::pair<int, int>>> adj;  // (neighbour, bond)
  std::vector<Bond> bonds;
  std::vector<std::vector<int>> dbl;  // partners by non-aromatic double bonds
  std::vector<std::vector<int>> tpl;  // partners by triple bonds
  int aromatic_rings = 0;
  int rings = 0;
};

Graph make_graph(const RDKit::ROMol& mol) {
  Graph g;
  g.mol = &mol;
  const int natoms = static_cast<int>(mol.getNumAtoms());
  if (natoms == 0) throw InvalidInput("EI model: the molecule has no atoms");
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
    g.h.push_back(static_cast<int>(a->getTotalNumHs(false)));
    g.h_atoms.emplace_back();
    g.arom.push_back(a->getIsAromatic() ? 1 : 0);
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
        ++g.h[static_cast<std::size_t>(v)];
        g.h_atoms[static_cast<std::size_t>(v)].push_back(static_cast<int>(a->getIdx()));
        break;
      }
    }
  }
  const RDKit::RingInfo* ri = mol.getRingInfo();
  for (const RDKit::Bond* b : mol.bonds()) {
    const int i = node[b->getBeginAtomIdx()];
    const int j = node[b->getEndAtomIdx()];
    if (i < 0 || j < 0) continue;
    Bond bond{i, j, b->getIsAromatic() ? 1.5 : b->getBondTypeAsDouble(), ri->numBondRings(b->getIdx()) > 0};
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
  for (const std::vector<int>& ring : ri->atomRings()) {
    ++g.rings;
    bool all = true;
    for (int a : ring) all = all && mol.getAtomWithIdx(static_cast<unsigned>(a))->getIsAromatic();
    if (all) ++g.aromatic_rings;
  }
  return g;
}

// Components of the graph without the bonds `removed`; returns their count.
int components(const Graph& g, int removed1, int removed2, std::vector<int>& comp) {
  comp.assign(static_cast<std::size_t>(g.n), -1);
  std::vector<int> stack;
  int c = 0;
  for (int s = 0; s < g.n; ++s) {
    if (comp[static_cast<std::size_t>(s)] >= 0) continue;
    comp[static_cast<std::size_t>(s)] = c;
    stack.push_back(s);
    while (!stack.empty()) {
      const int u = stack.back();
      stack.pop_back();
      for (auto [v, k] : g.adj[static_cast<std::size_t>(u)]) {
        if (k == removed1 || k == removed2 || comp[static_cast<std::size_t>(v)] >= 0) continue;
        comp[static_cast<std::size_t>(v)] = c;
        stack.push_back(v);
      }
    }
    ++c;
  }
  return c;
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

// Every piece, in a fixed order: one-cut pieces by bond (the bond's first
// atom's side first), then two-cut pieces by bond pair.
std::vector<Piece> pieces(const Graph& g) {
  std::vector<Piece> out;
  std::unordered_set<std::string> seen;
  std::vector<int> comp;
  auto add = [&](const std::vector<int>& parts, int c, std::vector<Cut> cuts) {
    Piece p;
    p.in.assign(static_cast<std::size_t>(g.n), 0);
    for (int a = 0; a < g.n; ++a) {
      if (parts[static_cast<std::size_t>(a)] == c) {
        p.in[static_cast<std::size_t>(a)] = 1;
        ++p.size;
      }
    }
    std::string key(p.in.begin(), p.in.end());
    if (!seen.insert(std::move(key)).second) return;
    p.cuts = std::move(cuts);
    out.push_back(std::move(p));
  };
  const int nb = static_cast<int>(g.bonds.size());
  for (int k = 0; k < nb; ++k) {
    const Bond& b = g.bonds[static_cast<std::size_t>(k)];
    if (b.ring) continue;
    components(g, k, -1, comp);
    add(comp, comp[static_cast<std::size_t>(b.i)], {Cut{b.i, b.j, k}});
    add(comp, comp[static_cast<std::size_t>(b.j)], {Cut{b.j, b.i, k}});
  }
  std::vector<int> base;
  components(g, -1, -1, base);
  for (int k1 = 0; k1 < nb; ++k1) {
    for (int k2 = k1 + 1; k2 < nb; ++k2) {
      const Bond& b1 = g.bonds[static_cast<std::size_t>(k1)];
      const Bond& b2 = g.bonds[static_cast<std::size_t>(k2)];
      if (base[static_cast<std::size_t>(b1.i)] != base[static_cast<std::size_t>(b2.i)]) continue;
      const int nc = components(g, k1, k2, comp);
      for (int c = 0; c < nc; ++c) {
        std::vector<Cut> cuts;
        for (int k : {k1, k2}) {
          const Bond& b = g.bonds[static_cast<std::size_t>(k)];
          const bool ii = comp[static_cast<std::size_t>(b.i)] == c;
          const bool jj = comp[static_cast<std::size_t>(b.j)] == c;
          if (ii != jj) cuts.push_back(ii ? Cut{b.i, b.j, k} : Cut{b.j, b.i, k});
        }
        if (cuts.size() == 2) add(comp, c, std::move(cuts));
      }
    }
  }
  return out;
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
  return (h > 0 ? "+" : "") + std::to_string(h) + " H";
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

// Shift-independent features of a piece, and its own site kinds.
struct PieceFeatures {
  std::vector<EiFeature> base;
  std::vector<std::string> own;
  double share = 1.0;
};

PieceFeatures piece_features(const Graph& g, const Piece& p, const std::vector<char>& rest) {
  PieceFeatures out;
  const int nc = static_cast<int>(p.cuts.size());
  out.share = 1.0 / nc;
  out.base.emplace_back(nc == 1 ? "one cut" : "two cuts", 1.0);
  for (const Cut& c : p.cuts) {
    for (std::string& x : site_kinds(g, c.inside, p.in)) {
      out.base.emplace_back(x, out.share);
      out.own.push_back(std::move(x));
    }
    for (const std::string& x : site_kinds(g, c.outside, rest)) out.base.emplace_back("neutral's " + x, out.share);
    std::string a = g.sym[static_cast<std::size_t>(c.inside)], b = g.sym[static_cast<std::size_t>(c.outside)];
    if (b < a) std::swap(a, b);
    const Bond& bond = g.bonds[static_cast<std::size_t>(c.bond)];
    out.base.emplace_back("cut " + a + "-" + b + " " + kBondKind(bond.order), out.share);
    if (bond.ring) out.base.emplace_back("cut ring bond", out.share);
  }
  for (const std::string& x : composition_names(g, rest)) out.base.emplace_back("neutral " + x, 1.0);
  out.base.emplace_back(std::string("neutral heavy atoms ") + size_bin(g.n - p.size), 1.0);
  if (p.size > g.n - p.size) out.base.emplace_back("piece larger than neutral", 1.0);
  return out;
}

// Atom counts by formula term (C first, H second, the others by symbol;
// labelled atoms after their element's ordinary ones, written D or [13C]).
struct FormulaCounts {
  std::map<core::FormulaTerm, int> counts;

  // The formula; with `labels` false every atom is written as its element
  // (CH4O for CHD3O), which is how the model's features name it: a label
  // changes masses, not chemistry.
  std::string text(bool labels = true) const {
    std::string s;
    auto put = [&s](const std::string& t, int n) {
      if (n <= 0) return;
      s += t;
      if (n > 1) s += std::to_string(n);
    };
    const std::string* pending = nullptr;  // element being summed over its labels
    int pending_n = 0;
    for (const auto& [term, n] : counts) {
      if (labels) {
        put(term.text(), n);
        continue;
      }
      if (pending && *pending != term.symbol) {
        put(*pending, pending_n);
        pending_n = 0;
      }
      pending = &term.symbol;
      pending_n += n;
    }
    if (pending) put(*pending, pending_n);
    return s;
  }
};

const core::FormulaTerm& hydrogen_term() {
  static const core::FormulaTerm h = core::formula_term(1, 0);
  return h;
}

struct IonMakeup {
  spectra::IonComposition composition;
  FormulaCounts formula;
  int mz = 0;
};

IonMakeup ion_makeup(const Graph& g, const std::vector<char>& in, int h) {
  std::vector<int> atoms;
  for (int a = 0; a < g.n; ++a) {
    if (!in[static_cast<std::size_t>(a)]) continue;
    atoms.push_back(g.atom[static_cast<std::size_t>(a)]);
    for (int x : g.h_atoms[static_cast<std::size_t>(a)]) atoms.push_back(x);
  }
  IonMakeup m;
  m.composition = spectra::ion_composition(*g.mol, atoms, h);
  for (const spectra::ElementCount& e : m.composition.elements) {
    m.formula.counts[core::formula_term(e.atomic_number, 0)] += e.count;
    m.mz += e.count * core::nominal_atom_mass(e.atomic_number);
  }
  for (const spectra::LabelledAtom& l : m.composition.labelled) {
    m.formula.counts[core::formula_term(l.atomic_number, l.mass_number)] += 1;
    m.mz += l.mass_number;
  }
  return m;
}

// The makeup of the same atoms with `h` more hydrogens (natural ones), or
// nothing when natural hydrogens would run out (labelled ones go then, which
// ion_makeup decides).
std::optional<IonMakeup> shifted(const IonMakeup& m, int h) {
  IonMakeup out = m;
  auto& el = out.composition.elements;
  auto it = std::find_if(el.begin(), el.end(), [](const spectra::ElementCount& e) { return e.atomic_number >= 1; });
  if (it != el.end() && it->atomic_number == 1) {
    if (it->count + h < 0) return std::nullopt;
    it->count += h;
    if (it->count == 0) el.erase(it);
  } else {
    if (h < 0) return std::nullopt;
    if (h > 0) el.insert(it, spectra::ElementCount{1, h});
  }
  int& hc = out.formula.counts[hydrogen_term()];
  hc += h;
  if (hc == 0) out.formula.counts.erase(hydrogen_term());
  out.mz += h;
  return out;
}

// What the molecule loses to become the ion, or nothing when the ion holds
// atoms the molecule has not (more hydrogens).
std::optional<FormulaCounts> neutral_of(const FormulaCounts& molecule, const FormulaCounts& ion) {
  FormulaCounts loss;
  for (const auto& [term, n] : ion.counts) {
    if (n > 0 && !molecule.counts.count(term)) return std::nullopt;
  }
  for (const auto& [term, n] : molecule.counts) {
    auto it = ion.counts.find(term);
    const int d = n - (it == ion.counts.end() ? 0 : it->second);
    if (d < 0) return std::nullopt;
    loss.counts[term] = d;
  }
  return loss;
}

// Every candidate ion, handed to `emit(ion, shared features, composition,
// piece number)` where the shared features (those of the piece, the same for
// its five ions; the piece number tells when they change) are kept apart from
// ion.features.
template <class Emit>
void enumerate_ions(const RDKit::ROMol& given, Emit&& emit) {
  std::unique_ptr<RDKit::ROMol> copy;
  if (!given.getRingInfo()->isInitialized()) {
    copy = std::make_unique<RDKit::ROMol>(given);
    RDKit::MolOps::findSSSR(*copy);
  }
  const RDKit::ROMol& mol = copy ? *copy : given;
  const Graph g = make_graph(mol);
  const std::vector<char> all(static_cast<std::size_t>(g.n), 1);
  int total_h = 0;
  for (int x : g.h) total_h += x;
  const IonMakeup whole = ion_makeup(g, all, 0);
  std::vector<EiFeature> molecular;
  for (std::string& x : molecule_names(g)) molecular.emplace_back(std::move(x), 1.0);
  molecular.emplace_back("molecular ion", 1.0);
  for (int h : {0, -1, -2}) {
    if (total_h + h < 0) continue;
    EiIon ion;
    IonMakeup m = h == 0 ? whole : ion_makeup(g, all, h);
    ion.mz = m.mz;
    ion.formula = m.formula.text();
    ion.hydrogen_shift = h;
    ion.molecular = true;
    ion.features.emplace_back("molecular ion, " + shift_text(h), 1.0);
    if (ion.mz <= kFormulaFeatureMaxMz) ion.features.emplace_back("ion " + m.formula.text(false), 1.0);
    emit(ion, molecular, m.composition, 0);
  }
  int piece_number = 0;
  for (const Piece& p : pieces(g)) {
    ++piece_number;
    int hh = 0;
    for (int a = 0; a < g.n; ++a) hh += p.in[static_cast<std::size_t>(a)] ? g.h[static_cast<std::size_t>(a)] : 0;
    std::vector<char> rest(p.in.size());
    for (std::size_t a = 0; a < rest.size(); ++a) rest[a] = p.in[a] ? 0 : 1;
    const PieceFeatures pf = piece_features(g, p, rest);
    const char* cuts = p.cuts.size() == 1 ? "one cut, " : "two cuts, ";
    const IonMakeup unshifted = ion_makeup(g, p.in, 0);
    const int piece_twice_rdbe = twice_rdbe(g, p.in);
    const char* enol = nullptr;
    const char* alkene = nullptr;
    if (p.cuts.size() == 1) {
      const Cut& c = p.cuts.front();
      enol = mclafferty_acceptor(g, c.inside, c.outside, p.in);
      alkene = mclafferty_acceptor(g, c.outside, c.inside, rest);
    }
    for (int h : kHydrogenShifts) {
      if (hh + h < 0) continue;
      std::optional<IonMakeup> quick = shifted(unshifted, h);
      const IonMakeup m = quick ? std::move(*quick) : ion_makeup(g, p.in, h);
      EiIon ion;
      ion.mz = m.mz;
      ion.formula = m.formula.text();
      const std::optional<FormulaCounts> neutral = neutral_of(whole.formula, m.formula);
      if (neutral) ion.neutral = neutral->text();
      ion.hydrogen_shift = h;
      const std::string shift = shift_text(h);
      ion.features.emplace_back(cuts + shift, 1.0);
      for (const std::string& x : pf.own) ion.features.emplace_back(x + ", " + shift, pf.share);
      ion.features.emplace_back("ion RDBE " + rdbe_text(piece_twice_rdbe - h), 1.0);
      if (ion.mz <= kFormulaFeatureMaxMz) ion.features.emplace_back("ion " + m.formula.text(false), 1.0);
      if (!ion.neutral.empty()) ion.features.emplace_back("loses " + neutral->text(false), 1.0);
      if (h == 1 && enol) {
        ion.features.emplace_back(std::string("McLafferty ion, gamma H to the ") + enol, 1.0);
        ion.features.emplace_back(std::string("McLafferty ion, molecule of heavy atoms ") + size_bin(g.n), 1.0);
      }
      if (h == -1 && alkene) ion.features.emplace_back(std::string("McLafferty alkene ion, beside ") + alkene, 1.0);
      emit(ion, pf.base, m.composition, piece_number);
    }
  }
}

const std::unordered_map<std::string_view, double>& weight_map() {
  static const std::unordered_map<std::string_view, double> map = [] {
    std::unordered_map<std::string_view, double> m;
    for (const EiWeight& w : ei_weights()) m.emplace(w.name, w.weight);
    return m;
  }();
  return map;
}

double score(const std::vector<EiFeature>& features) {
  const auto& w = weight_map();
  double s = 0.0;
  for (const auto& [name, value] : features) {
    auto it = w.find(name);
    if (it != w.end()) s += it->second * value;
  }
  return s;
}

std::string composition_key(const spectra::IonComposition& c) {
  std::string key;
  for (const auto& e : c.elements) key += std::to_string(e.atomic_number) + ":" + std::to_string(e.count) + ",";
  key += "|";
  for (const auto& l : c.labelled) key += std::to_string(l.atomic_number) + "/" + std::to_string(l.mass_number) + ",";
  return key;
}

// Isotope clusters by composition, kept per thread across molecules (a
// cluster depends on its composition only, so what is cached never changes a
// result); emptied between molecules when it has grown large, so references
// stay valid while one molecule is worked on.
thread_local std::unordered_map<std::string, std::vector<spectra::IsotopePeak>> cluster_cache;

const std::vector<spectra::IsotopePeak>& cluster_of(const spectra::IonComposition& c) {
  auto& cache = cluster_cache;
  std::string key = composition_key(c);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  return cache
      .emplace(std::move(key), spectra::scaled_to_most_abundant(spectra::isotope_cluster(c.elements, c.labelled)))
      .first->second;
}

}  // namespace

std::vector<EiIon> ei_candidate_ions(const RDKit::ROMol& mol) {
  std::vector<EiIon> out;
  enumerate_ions(mol, [&out](EiIon& ion, const std::vector<EiFeature>& shared, const spectra::IonComposition& c, int) {
    ion.features.insert(ion.features.begin(), shared.begin(), shared.end());
    ion.cluster = spectra::scaled_to_most_abundant(spectra::isotope_cluster(c.elements, c.labelled));
    out.push_back(std::move(ion));
  });
  return out;
}

std::vector<EiPeak> ei_peaks(const RDKit::ROMol& mol) {
  struct Scored {
    int mz;
    std::string formula;
    double score;
    const std::vector<spectra::IsotopePeak>* cluster;
  };
  std::vector<Scored> ions;
  if (cluster_cache.size() >= 100000) cluster_cache.clear();
  int scored_piece = -1;
  double shared_score = 0.0;
  enumerate_ions(
      mol, [&](EiIon& ion, const std::vector<EiFeature>& shared, const spectra::IonComposition& c, int piece) {
        if (piece != scored_piece) {
          shared_score = score(shared);
          scored_piece = piece;
        }
        ions.push_back(Scored{ion.mz, std::move(ion.formula), shared_score + score(ion.features), &cluster_of(c)});
      });
  double top_score = -HUGE_VAL;
  for (const Scored& s : ions) top_score = std::max(top_score, s.score);
  // Per m/z: the summed square-rooted intensity, and what contributes to it.
  struct Cell {
    double value = 0.0;
    std::map<std::string, double> own;      // ions whose nominal m/z this is
    std::map<std::string, double> isotope;  // isotope peaks of lighter or heavier ions
  };
  std::map<int, Cell> cells;
  for (const Scored& s : ions) {
    const double e = std::exp(s.score - top_score);
    for (const spectra::IsotopePeak& p : *s.cluster) {
      const double v = std::sqrt(p.abundance) * e;
      Cell& cell = cells[p.mz];
      cell.value += v;
      if (p.mz == s.mz) {
        cell.own[s.formula] += v;
      } else {
        const int off = p.mz - s.mz;
        cell.isotope[s.formula + " isotope " + (off > 0 ? "+" : "") + std::to_string(off)] += v;
      }
    }
  }
  double top = 0.0;
  for (const auto& [mz, cell] : cells) top = std::max(top, cell.value);
  std::vector<EiPeak> out;
  if (!(top > 0.0)) return out;
  for (const auto& [mz, cell] : cells) {
    const double x = std::nearbyint(999.0 * std::pow(cell.value / top, kEiGamma));
    if (x <= 0.0 || x < kEiIntensityFloor * 999.0) continue;
    EiPeak peak{mz, static_cast<int>(x), {}};
    const auto& names = cell.own.empty() ? cell.isotope : cell.own;
    std::vector<std::pair<double, std::string>> ranked;
    for (const auto& [f, v] : names) ranked.emplace_back(-v, f);
    std::sort(ranked.begin(), ranked.end());
    for (auto& [v, f] : ranked) peak.formulas.push_back(std::move(f));
    out.push_back(std::move(peak));
  }
  return out;
}

std::unique_ptr<RDKit::ROMol> ei_molecule(const std::string& smiles) {
  // A molecule RDKit will not sanitise (a metal complex, a hypervalent atom)
  // is analysed by the engine all the same: read it as written, with its
  // aromaticity perceived as far as that goes, so that every model takes it.
  bool sanitised = false;
  std::unique_ptr<RDKit::RWMol> mol = molecule::read_smiles_leniently(smiles, &sanitised);
  if (!mol) throw InvalidInput("EI model: cannot read the SMILES '" + smiles + "'");
  if (!sanitised) {
    try {
      mol->getRingInfo()->reset();
      RDKit::MolOps::findSSSR(*mol);
      RDKit::MolOps::setAromaticity(*mol);
    } catch (const std::exception&) {
      // keep what was perceived
    }
  }
  return mol;
}

std::vector<EiPeak> ei_peaks_of_smiles(const std::string& smiles) { return ei_peaks(*ei_molecule(smiles)); }

spectra::Spectrum ei_spectrum(const std::string& smiles, const std::string& formula, int mol_mass,
                              const std::string& name) {
  spectra::Spectrum s;
  for (EiPeak& p : ei_peaks_of_smiles(smiles)) {
    s.mz.push_back(p.mz);
    s.intensities.push_back(p.intensity);
    s.annotations.push_back(std::move(p.formulas));
  }
  if (!name.empty()) s.metadata.set(spectra::keys::name, name);
  s.metadata.set(spectra::keys::smiles, smiles);
  s.metadata.set(spectra::keys::formula, formula);
  s.metadata.set(spectra::keys::mol_mass, std::to_string(mol_mass));
  s.metadata.set(spectra::keys::comments, kEiModelComment);
  return s;
}

}  // namespace tessarin::prediction
