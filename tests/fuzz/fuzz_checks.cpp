#include "fuzz_checks.h"

#include <GraphMol/Atom.h>
#include <GraphMol/ROMol.h>
#include <RDGeneral/Invariant.h>
#include <RDGeneral/RDLog.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <vector>

#include "analysis/analysis.h"
#include "core/element_data.h"
#include "core/errors.h"
#include "counts/edge_removal_screen.h"
#include "counts/index_graph.h"
#include "counts/inertia.h"
#include "counts/lpi.h"
#include "molecule/prepare_molecule.h"
#include "ms/atom_set_softs.h"
#include "ms/soft_bonds.h"
#include "vif/orbital_graph_builder.h"

namespace tessarin::fuzz {
namespace {

using counts::LpiCounts;

std::string text(const counts::LpiCounts& c) {
  std::ostringstream out;
  out << '{' << c.n_plus << ", " << c.n_zero << ", " << c.n_minus << '}';
  return out.str();
}

void require(bool ok, const std::string& what) {
  if (!ok) throw CheckFailure(what);
}

void require_partition(const counts::LpiCounts& c, int nodes, const std::string& where) {
  require(c.n_plus >= 0 && c.n_zero >= 0 && c.n_minus >= 0 && c.total() == nodes,
          where + ": counts " + text(c) + " do not partition " + std::to_string(nodes) + " nodes");
}

// Describes the error in flight when it is one a caller may receive for bad
// input (the bindings turn each into a plain Python exception); rethrows it
// as a CheckFailure otherwise. Logic errors that are not the core's own
// (vector::at, length_error, ...) and allocation failures mean a fault.
std::string describe_clean_error() {
  try {
    throw;
  } catch (const CheckFailure&) {
    throw;
  } catch (const InvalidInput& e) {
    return std::string("InvalidInput: ") + e.what();
  } catch (const IndexOutOfRange& e) {
    return std::string("IndexOutOfRange: ") + e.what();
  } catch (const MissingKey& e) {
    return std::string("MissingKey: ") + e.what();
  } catch (const WrongType& e) {
    return std::string("WrongType: ") + e.what();
  } catch (const Invar::Invariant& e) {
    return std::string("RDKit invariant: ") + e.what();
  } catch (const std::runtime_error& e) {
    return std::string("runtime_error: ") + e.what();
  } catch (const std::bad_alloc&) {
    throw CheckFailure("allocation failure (std::bad_alloc)");
  } catch (const std::exception& e) {
    throw CheckFailure(std::string("unexpected exception: ") + e.what());
  } catch (...) {
    throw CheckFailure("an exception that is not a std::exception");
  }
}

// ---------------------------------------------------------------- SMILES

// Options of the analysis under test: everything on, kept short.
// The report is written too, to a stream without buffer.
analysis::Options fuzz_options() {
  analysis::Options options;
  options.n_iter = 20;
  options.ring_fragmentation = true;
  options.recursive = true;
  options.max_generations = 1;
  return options;
}

// Graphs up to this size are re-counted densely, bond by bond.
constexpr int kMaxDenseRecheckNodes = 160;
// Larger graphs are not analysed: atoms of period 4 and beyond bring sigma
// cliques that do not peel, so every soft-bond test of a long chain of them
// is a dense count of the whole graph, and a hundred-character SMILES can
// take minutes without anything being wrong.
constexpr int kMaxAnalysedNodes = 300;

// Orbital nodes the molecule of `smiles` would get; 0 when it does not
// parse, -1 when an atom has no period (the analysis reports that itself).
int orbital_nodes_of(const std::string& smiles) {
  const std::unique_ptr<RDKit::ROMol> mol = molecule::prepare_molecule(smiles);
  if (!mol) return 0;
  int nodes = 0;
  for (const RDKit::Atom* atom : mol->atoms()) {
    if (atom->getAtomicNum() < 1 || atom->getAtomicNum() > core::kMaxAtomicNumber) return -1;
    nodes += vif::orbital_node_count(core::period_of_atomic_number(atom->getAtomicNum()));
  }
  return nodes;
}

void check_analysis_result(const analysis::Result& a) {
  const RDKit::ROMol& mol = *a.mol;
  const auto atoms = static_cast<std::size_t>(mol.getNumAtoms());
  require(a.coords.size() == atoms,
          "layout has " + std::to_string(a.coords.size()) + " points for " + std::to_string(atoms) + " atoms");
  for (const layout::Point2& p : a.coords) require(std::isfinite(p.x) && std::isfinite(p.y), "non-finite layout point");
  const vif::OrbitalGraph& orbital = a.graph.orbital;
  const int nodes = orbital.graph.node_count;
  require(orbital.atom_nodes.size() == atoms, "orbital nodes are not listed for every atom");
  require(a.graph.positions.size() == static_cast<std::size_t>(nodes), "node positions do not cover the graph");
  for (const layout::Point2& p : a.graph.positions) {
    require(std::isfinite(p.x) && std::isfinite(p.y), "non-finite orbital node position");
  }
  require_partition(a.lpi.counts, nodes, "LPI of the molecule");
  require(a.lpi.eigenvalues.size() == static_cast<std::size_t>(nodes), "one eigenvalue per node expected");

  require(std::is_sorted(a.soft_bonds.begin(), a.soft_bonds.end()) &&
              std::adjacent_find(a.soft_bonds.begin(), a.soft_bonds.end()) == a.soft_bonds.end(),
          "soft bonds are not ascending and distinct");
  require(a.soft_bonds.empty() || a.soft_bonds.back() < orbital.bonds.size(), "soft bond outside the records");

  require(a.recursive_peaks.has_value() && !a.recursive_peaks->empty(), "no multi-generation peaks");
  const std::vector<ms::GenerationPeak>& peaks = *a.recursive_peaks;
  require(peaks.front().generation == 0 && peaks.front().mz == a.mol_mass, "the molecular ion is not the first peak");
  std::set<int> mz;
  for (const ms::GenerationPeak& p : peaks) {
    require(p.generation >= 0 && p.generation <= 1, "peak generation beyond max_generations");
    require(mz.insert(p.mz).second, "m/z " + std::to_string(p.mz) + " listed twice");
  }

  // The soft bonds again, by the fragment engine on the whole molecule (the
  // same test inside the atom set of every atom) and, where cheap, densely.
  const ms::MoleculeOrbitals orbitals = ms::molecule_orbitals(orbital);
  std::vector<int> all_atoms(atoms);
  std::iota(all_atoms.begin(), all_atoms.end(), 0);
  ms::AtomSetSoftBonds fast(orbitals, 1e-9, ms::SoftTestPath::fast);
  require(fast.soft_bonds(all_atoms) == a.soft_bonds,
          "the fragment engine finds other soft bonds in the whole molecule");
  if (nodes <= kMaxDenseRecheckNodes) {
    const std::vector<std::size_t> dense =
        ms::detect_soft_bonds(orbital.graph, orbital.bonds, a.lpi.counts, 1e-9, counts::CountMethod::dense);
    require(dense == a.soft_bonds, "dense counts find other soft bonds than the analysis");
  }
}

// ---------------------------------------------------------------- graphs

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t left() const { return bytes_.size() - pos_; }
  std::uint8_t byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  double raw_double() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
    return std::bit_cast<double>(bits);
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

constexpr int kMaxNodes = 24;
constexpr std::size_t kMaxEdges = 320;

// A decoded test graph, before the constructor has seen it.
struct GraphCase {
  int n = 1;
  double tol = 1e-9;
  std::vector<core::WeightedEdge> edges;  // as decoded: may hold non-finite weights and repeated pairs
  std::vector<int> atom_of;               // node -> atom, atoms of consecutive nodes
  std::vector<char> picked;               // node -> in the tested subset
  bool reversed = false;                  // subset listed in descending order
};

// Layout: node count, tol, atom boundaries (bit v % 8 set: node v starts a
// new atom), three bytes of subset mask (bit v: node v is in the subset; bit
// 23 also lists the subset in descending order), then edges of three bytes
// (u, v, weight code), a raw eight-byte double following the codes that ask
// for one.
GraphCase decode(std::span<const std::uint8_t> bytes) {
  static constexpr double kTols[] = {1e-9, 1e-9, 1e-6, 1e-7, 1e-12, 1e-15, 0.0, 1e-3};
  static constexpr double kWeights[] = {1.0, 0.9, 0.5, -1.0, -0.9, 2.0, 0.0, 1e-3, 1e3, 1e-4, -0.5, 0.1};
  ByteReader in(bytes);
  GraphCase c;
  c.n = 1 + in.byte() % kMaxNodes;
  c.tol = kTols[in.byte() % std::size(kTols)];
  const std::uint8_t boundaries = in.byte();
  const std::uint32_t mask = in.byte() | (in.byte() << 8) | (in.byte() << 16);
  c.reversed = (mask & 0x800000u) != 0;
  int atom = 0;
  for (int v = 0; v < c.n; ++v) {
    if (v > 0 && ((boundaries >> (v % 8)) & 1) != 0) ++atom;
    c.atom_of.push_back(atom);
    c.picked.push_back(static_cast<char>((mask >> v) & 1));
  }
  while (in.left() >= 3 && c.edges.size() < kMaxEdges) {
    const int u = in.byte() % c.n;
    const int v = in.byte() % c.n;
    const std::uint8_t code = in.byte();
    double w = 0.0;
    const unsigned pick = code % 16;
    if (pick < std::size(kWeights)) {
      w = kWeights[pick];
    } else if (pick < 14) {
      w = in.raw_double();  // anything: NaN, infinities, subnormals, huge
    } else if (pick == 14) {
      w = (static_cast<double>(code) - 127.5) / 64.0;  // an arbitrary small value
    } else {
      w = u == v ? 1.0 : -2.0;  // a plain self-loop weight, or a plain edge
    }
    c.edges.push_back({u, v, w});
  }
  return c;
}

// The edges the constructor accepts: finite weights, each node pair once.
std::vector<core::WeightedEdge> acceptable_edges(const GraphCase& c, bool& rejected_any) {
  std::vector<core::WeightedEdge> out;
  std::set<std::pair<int, int>> pairs;
  rejected_any = false;
  for (const core::WeightedEdge& e : c.edges) {
    if (!std::isfinite(e.weight) || !pairs.insert({std::min(e.u, e.v), std::max(e.u, e.v)}).second) {
      rejected_any = true;
      continue;
    }
    out.push_back(e);
  }
  return out;
}

// Rank of a symmetric matrix over the integers modulo a prime. The entries
// are the weights times 2^63, exact integers for magnitudes >= 2^-10 (the
// peeled regime), so the rank modulo a large prime is the exact rank except
// for primes dividing every non-zero maximal minor; the larger of two primes'
// ranks is taken.
class ExactRank {
 public:
  static int of(int n, std::span<const counts::MatrixEntry> entries) {
    return std::max(modulo(n, entries, (std::uint64_t{1} << 61) - 1), modulo(n, entries, 4294967291u));
  }

 private:
  __extension__ typedef unsigned __int128 u128;  // products of two residues

  static std::uint64_t power(std::uint64_t base, unsigned exponent, std::uint64_t p) {
    std::uint64_t result = 1 % p;
    for (base %= p; exponent > 0; exponent >>= 1, base = static_cast<std::uint64_t>(u128{base} * base % p)) {
      if ((exponent & 1u) != 0) result = static_cast<std::uint64_t>(u128{result} * base % p);
    }
    return result;
  }

  static std::uint64_t residue(double w, std::uint64_t p) {
    int e = 0;
    const double f = std::frexp(std::abs(w), &e);                  // |w| = f 2^e, f in [0.5, 1)
    const auto m = static_cast<std::uint64_t>(std::ldexp(f, 53));  // |w| = m 2^(e - 53)
    const std::uint64_t r = static_cast<std::uint64_t>(u128{m % p} * power(2, static_cast<unsigned>(e + 10), p) % p);
    return w < 0.0 && r != 0 ? p - r : r;
  }

  static int modulo(int n, std::span<const counts::MatrixEntry> entries, std::uint64_t p) {
    const auto un = static_cast<std::size_t>(n);
    std::vector<std::uint64_t> a(un * un, 0);
    for (const counts::MatrixEntry& e : entries) {
      const std::uint64_t r = residue(e.weight, p);
      const auto u = static_cast<std::size_t>(e.row), v = static_cast<std::size_t>(e.col);
      a[u * un + v] = (a[u * un + v] + r) % p;
      if (u != v) a[v * un + u] = (a[v * un + u] + r) % p;
    }
    int rank = 0;
    for (std::size_t col = 0; col < un && static_cast<std::size_t>(rank) < un; ++col) {
      const auto top = static_cast<std::size_t>(rank);
      std::size_t pivot = top;
      while (pivot < un && a[pivot * un + col] == 0) ++pivot;
      if (pivot == un) continue;
      for (std::size_t k = 0; k < un; ++k) std::swap(a[top * un + k], a[pivot * un + k]);
      const std::uint64_t inverse = power(a[top * un + col], static_cast<unsigned>(p - 2), p);
      for (std::size_t row = top + 1; row < un; ++row) {
        const std::uint64_t factor = static_cast<std::uint64_t>(u128{a[row * un + col]} * inverse % p);
        if (factor == 0) continue;
        for (std::size_t k = col; k < un; ++k) {
          const std::uint64_t sub = static_cast<std::uint64_t>(u128{factor} * a[top * un + k] % p);
          a[row * un + k] = (a[row * un + k] + p - sub) % p;
        }
      }
      ++rank;
    }
    return rank;
  }
};

// The peeled count is exact inertia (its core blocks classified against
// tol); the dense count classifies the computed eigenvalues of the whole
// matrix. counts::peeling_applies() keeps exact zeros far below tol, but no weight
// range rules out a non-zero eigenvalue smaller than tol (a nearly singular
// graph): there the peeled count keeps it and the dense one calls it zero,
// and below the rounding level of the matrix even its computed sign means
// nothing. Such a parting is accepted, and tallied, when
//  - neither count has fewer zeros than the exact rank leaves (n - rank,
//    found modulo primes), and
//  - the peeled counts are the computed eigenvalues classified with every
//    eigenvalue within rounding of zero given any sign or zero, and every
//    one up to 1e3 * tol given its sign or zero.
// Any other parting is a fault.
class GraphCounts {
 public:
  GraphCounts(const counts::IndexGraph& g, double tol) : g_(g), tol_(tol), peels_(counts::peeling_applies(g, tol)) {
    all_.resize(static_cast<std::size_t>(g.node_count()));
    std::iota(all_.begin(), all_.end(), 0);
  }

  bool peels() const { return peels_; }
  const std::vector<int>& all_nodes() const { return all_; }
  int near_threshold() const { return near_threshold_; }

  // Dense counts of the subgraph induced by `nodes` without the edges
  // `removed`, after checking the peeled count against them.
  counts::LpiCounts dense(std::span<const int> nodes, std::span<const std::size_t> removed, const std::string& where) {
    const counts::LpiCounts dense = counter_.count_induced(g_, nodes, removed, tol_, counts::CountMethod::dense);
    require_partition(dense, static_cast<int>(nodes.size()), where);
    parted(nodes, removed, where);
    return dense;
  }

  // Whether the peeled and dense counts of that subgraph part (an accepted
  // parting; an unexplained one fails here).
  bool parted(std::span<const int> nodes, std::span<const std::size_t> removed, const std::string& where) {
    if (!peels_) return false;
    const counts::LpiCounts dense = counter_.count_induced(g_, nodes, removed, tol_, counts::CountMethod::dense);
    const counts::LpiCounts peeled = counter_.count_induced(g_, nodes, removed, tol_, counts::CountMethod::peeled);
    if (peeled == dense) return false;
    require_partition(peeled, static_cast<int>(nodes.size()), where + ", peeled");
    const std::string what = where + ", peeled: " + text(peeled) + " against the dense " + text(dense);
    const std::vector<counts::MatrixEntry> entries = matrix(nodes, removed);
    const int n = static_cast<int>(nodes.size());
    const int zeros = n - ExactRank::of(n, entries);
    require(peeled.n_zero >= zeros && dense.n_zero >= zeros,
            what + "; the exact rank leaves " + std::to_string(zeros) + " zeros");
    require(spectrum_explains(peeled, n, entries), what);
    ++near_threshold_;
    return true;
  }

 private:
  std::vector<counts::MatrixEntry> matrix(std::span<const int> nodes, std::span<const std::size_t> removed) const {
    std::vector<int> local(static_cast<std::size_t>(g_.node_count()), -1);
    for (std::size_t k = 0; k < nodes.size(); ++k) local[static_cast<std::size_t>(nodes[k])] = static_cast<int>(k);
    std::vector<counts::MatrixEntry> entries;
    for (std::size_t id = 0; id < g_.edge_count(); ++id) {
      const core::WeightedEdge& e = g_.edge(id);
      const int u = local[static_cast<std::size_t>(e.u)];
      const int v = local[static_cast<std::size_t>(e.v)];
      if (u < 0 || v < 0 || e.weight == 0.0) continue;
      if (std::find(removed.begin(), removed.end(), id) != removed.end()) continue;
      entries.push_back({u, v, e.weight});
    }
    return entries;
  }

  bool spectrum_explains(const counts::LpiCounts& counts, int n, std::span<const counts::MatrixEntry> entries) const {
    std::vector<double> row_sum(static_cast<std::size_t>(n), 0.0);
    for (const counts::MatrixEntry& e : entries) {
      row_sum[static_cast<std::size_t>(e.row)] += std::abs(e.weight);
      if (e.row != e.col) row_sum[static_cast<std::size_t>(e.col)] += std::abs(e.weight);
    }
    const double norm = row_sum.empty() ? 0.0 : *std::max_element(row_sum.begin(), row_sum.end());
    const double rounding = 4.0 * n * 0x1.0p-52 * norm;
    const double near = 1e3 * std::max(tol_, rounding);
    int firm_plus = 0, firm_minus = 0, near_plus = 0, near_minus = 0, any_sign = 0;
    for (double x : counts::lpi_of_undirected_edges(n, entries, tol_).eigenvalues) {
      if (std::abs(x) <= rounding) {
        ++any_sign;
      } else if (std::abs(x) <= near) {
        ++(x > 0 ? near_plus : near_minus);
      } else {
        ++(x > 0 ? firm_plus : firm_minus);
      }
    }
    const int plus = counts.n_plus - firm_plus;
    const int minus = counts.n_minus - firm_minus;
    if (plus < 0 || minus < 0) return false;
    return std::max(0, plus - near_plus) + std::max(0, minus - near_minus) <= any_sign;
  }

  const counts::IndexGraph& g_;
  double tol_;
  bool peels_;
  std::vector<int> all_;
  counts::InertiaCounter counter_;
  int near_threshold_ = 0;
};

// Dense counts with each edge removed in turn, the peeled ones checked against them.
std::vector<counts::LpiCounts> check_single_removals(GraphCounts& check, const counts::IndexGraph& g) {
  std::vector<counts::LpiCounts> without;
  for (std::size_t id = 0; id < g.edge_count(); ++id) {
    const std::size_t removed[] = {id};
    without.push_back(check.dense(check.all_nodes(), removed, "edge " + std::to_string(id) + " removed"));
  }
  return without;
}

// A deletion on which a fast answer and the dense one may differ: the
// intact or the edited (sub)graph is a near-threshold case.
bool near_threshold_deletion(GraphCounts& check, std::span<const int> nodes, std::size_t edge) {
  const std::size_t removed[] = {edge};
  const bool intact = check.parted(nodes, {}, "intact");
  const bool edited = check.parted(nodes, removed, "edge " + std::to_string(edge) + " removed");
  return intact || edited;
}

void check_screen(GraphCounts& check, const counts::IndexGraph& g, double tol, const counts::LpiCounts& baseline,
                  const std::vector<counts::LpiCounts>& without, const std::string& which) {
  const counts::EdgeRemovalScreen screen(g, baseline, tol);
  for (std::size_t id = 0; id < g.edge_count(); ++id) {
    const counts::EdgeRemovalScreen::Verdict verdict = screen.judge(id);
    if (verdict == counts::EdgeRemovalScreen::Verdict::undecided) continue;
    const bool soft = verdict == counts::EdgeRemovalScreen::Verdict::soft;
    if (soft == (without[id] == baseline)) continue;
    require(near_threshold_deletion(check, check.all_nodes(), id),
            "screen against the " + which + " baseline " + text(baseline) + " calls edge " + std::to_string(id) +
                (soft ? " soft" : " not soft") + ", but the count without it is " + text(without[id]));
  }
}

// The automatic soft-edge search (screen, then peeled counts) against the dense one.
void check_soft_edges(GraphCounts& check, const counts::IndexGraph& g, double tol, const counts::LpiCounts& baseline) {
  std::vector<std::optional<std::size_t>> candidates;
  for (std::size_t id = 0; id < g.edge_count(); ++id) candidates.emplace_back(id);
  const std::vector<std::size_t> fast =
      ms::soft_edge_positions(g, candidates, baseline, tol, counts::CountMethod::automatic);
  const std::vector<std::size_t> dense =
      ms::soft_edge_positions(g, candidates, baseline, tol, counts::CountMethod::dense);
  std::vector<std::size_t> differ;
  std::set_symmetric_difference(fast.begin(), fast.end(), dense.begin(), dense.end(), std::back_inserter(differ));
  for (std::size_t id : differ) {
    require(near_threshold_deletion(check, check.all_nodes(), id),
            "soft edges: the automatic search and the dense one disagree on edge " + std::to_string(id));
  }
}

void check_induced(GraphCounts& check, const GraphCase& c, const counts::IndexGraph& g) {
  std::vector<int> nodes;
  for (int v = 0; v < c.n; ++v)
    if (c.picked[static_cast<std::size_t>(v)] != 0) nodes.push_back(v);
  if (c.reversed) std::reverse(nodes.begin(), nodes.end());
  check.dense(nodes, {}, "induced subgraph");
  if (g.edge_count() > 0) {
    const std::size_t removed[] = {g.edge_count() / 2};
    check.dense(nodes, removed, "induced subgraph without an edge");
  }
  if (!nodes.empty()) {
    std::vector<int> twice = nodes;
    twice.push_back(nodes.front());
    bool refused = false;
    try {
      counts::InertiaCounter counter;
      counter.count_induced(g, twice, {}, c.tol, counts::CountMethod::dense);
    } catch (const InvalidInput&) {
      refused = true;
    }
    require(refused, "a node listed twice was not refused");
  }
}

// Atoms are runs of consecutive nodes; every edge between two atoms is a bond
// record. The fast engine (peeling and memo) must find what the dense one finds.
void check_atom_set_engine(GraphCounts& check, const GraphCase& c, const counts::IndexGraph& g) {
  ms::MoleculeOrbitals orbitals{g, {}, {}};
  const int atoms = c.atom_of.back() + 1;
  orbitals.atom_nodes.assign(static_cast<std::size_t>(atoms), std::vector<int>{});
  for (int v = 0; v < c.n; ++v) {
    orbitals.atom_nodes[static_cast<std::size_t>(c.atom_of[static_cast<std::size_t>(v)])]->push_back(v);
  }
  for (std::size_t id = 0; id < g.edge_count(); ++id) {
    const core::WeightedEdge& e = g.edge(id);
    const int au = c.atom_of[static_cast<std::size_t>(e.u)];
    const int av = c.atom_of[static_cast<std::size_t>(e.v)];
    if (au != av) orbitals.bonds.push_back({au, av, e.u, e.v, id, 1});
  }
  std::vector<int> whole(static_cast<std::size_t>(atoms));
  std::iota(whole.begin(), whole.end(), 0);
  std::vector<int> part;
  for (int v = 0; v < c.n; ++v) {
    const int a = c.atom_of[static_cast<std::size_t>(v)];
    if (c.picked[static_cast<std::size_t>(v)] != 0 && (part.empty() || part.back() != a)) part.push_back(a);
  }
  ms::AtomSetSoftBonds fast(orbitals, c.tol, ms::SoftTestPath::fast);
  ms::AtomSetSoftBonds plain(orbitals, c.tol, ms::SoftTestPath::plain);
  for (const std::vector<int>* set : {&whole, &part, &whole}) {  // the whole set again, from the memo
    const std::vector<std::size_t> got = fast.soft_bonds(*set);
    const std::vector<std::size_t> want = plain.soft_bonds(*set);
    std::vector<int> nodes;
    for (int a : *set)
      for (int v : *orbitals.atom_nodes[static_cast<std::size_t>(a)]) nodes.push_back(v);
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::size_t> differ;
    std::set_symmetric_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(differ));
    for (std::size_t i : differ) {
      require(near_threshold_deletion(check, nodes, *orbitals.bonds[i].edge),
              "fragment engine: the fast path and the dense one disagree on bond " + std::to_string(i));
    }
  }
}

}  // namespace

void quiet_rdkit_logs() { boost::logging::disable_logs("rdApp.*"); }

std::string check_smiles_analysis(std::span<const std::uint8_t> bytes) {
  const std::string smiles(bytes.begin(), bytes.end());
  std::ostream sink(nullptr);
  std::optional<analysis::Result> analysis;
  try {
    if (orbital_nodes_of(smiles) > kMaxAnalysedNodes) return "skipped: too many orbital nodes";
    analysis = analysis::analyse_smiles(smiles, fuzz_options(), {}, &sink);
  } catch (...) {
    return describe_clean_error();
  }
  if (!analysis) return "unreadable";
  try {
    check_analysis_result(*analysis);
  } catch (const CheckFailure&) {
    throw;
  } catch (...) {
    throw CheckFailure("re-checking an analysed molecule failed: " + describe_clean_error());
  }
  return "analysed: " + std::to_string(analysis->mol->getNumAtoms()) + " atoms, " +
         std::to_string(analysis->graph.orbital.graph.node_count) + " nodes, " +
         std::to_string(analysis->soft_bonds.size()) + " soft bonds";
}

std::string check_graph_counts(std::span<const std::uint8_t> bytes) {
  const GraphCase c = decode(bytes);
  bool rejected_any = false;
  const std::vector<core::WeightedEdge> edges = acceptable_edges(c, rejected_any);
  if (rejected_any) {
    bool refused = false;
    try {
      const counts::IndexGraph raw(c.n, c.edges);
    } catch (const InvalidInput&) {
      refused = true;
    }
    require(refused, "a graph with a non-finite weight or a repeated node pair was accepted");
  }

  const counts::IndexGraph g(c.n, edges);
  GraphCounts check(g, c.tol);
  const counts::LpiCounts dense = check.dense(check.all_nodes(), {}, "whole graph");
  counts::InertiaCounter counter;
  if (check.peels()) {
    require(counter.count(g, {}, c.tol, counts::CountMethod::automatic) ==
                counter.count(g, {}, c.tol, counts::CountMethod::peeled),
            "whole graph: the automatic count is not the peeled one");
  } else {
    bool refused = false;
    try {
      counter.count(g, {}, c.tol, counts::CountMethod::peeled);
    } catch (const InvalidInput&) {
      refused = true;
    }
    require(refused, "the peeled count ran where peeling does not apply");
    require(counter.count(g, {}, c.tol, counts::CountMethod::automatic) == dense,
            "whole graph: the automatic count is not the dense one");
  }

  const std::vector<counts::LpiCounts> without = check_single_removals(check, g);
  check_screen(check, g, c.tol, dense, without, "graph's own");
  check_screen(check, g, c.tol, counts::LpiCounts{dense.n_plus + 1, dense.n_zero, dense.n_minus - 1}, without,
               "shifted");
  check_soft_edges(check, g, c.tol, dense);
  check_induced(check, c, g);
  check_atom_set_engine(check, c, g);
  std::ostringstream outcome;
  outcome << c.n << " nodes, " << g.edge_count() << " edges, tol " << c.tol
          << (check.peels() ? ", peeled" : ", dense only");
  if (check.near_threshold() > 0) outcome << ", " << check.near_threshold() << " near-threshold partings";
  return outcome.str();
}

}  // namespace tessarin::fuzz
