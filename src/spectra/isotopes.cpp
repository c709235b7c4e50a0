#include "spectra/isotopes.h"

#include <GraphMol/Atom.h>
#include <GraphMol/PeriodicTable.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <string>
#include <utility>

#include "core/atom_index.h"
#include "core/element_data.h"
#include "core/errors.h"
#include "core/nominal_mass.h"

namespace tessarin::spectra {
namespace {

using core::kMaxAtomicNumber;

// End terms of a product below this share of its largest term are dropped.
constexpr double kTrimShare = 1e-15;
// Powers of an element up to this count are kept (per thread) once built.
constexpr int kCachedCounts = 256;
// Natural-abundance atoms one ion may hold; far beyond any ion, and it keeps
// the polynomials a few thousand terms long at most.
constexpr long long kMaxAtoms = 1'000'000;
// Natural isotopes are looked for this far from the most common one (the
// widest natural spread in the table, tin's or xenon's, is 12).
constexpr int kIsotopeSearchSpan = 40;

// sum_k p[k] x^(low + k): p[k] is the abundance at mass number low + k.
struct Poly {
  long long low = 0;
  std::vector<double> p;
};

void trim(Poly& poly) {
  const double largest = *std::max_element(poly.p.begin(), poly.p.end());
  const double cutoff = largest * kTrimShare;
  std::size_t first = 0;
  std::size_t last = poly.p.size();
  while (first + 1 < last && poly.p[first] < cutoff) ++first;
  while (last - 1 > first && poly.p[last - 1] < cutoff) --last;
  if (first > 0 || last < poly.p.size()) {
    poly.p.erase(poly.p.begin() + static_cast<std::ptrdiff_t>(last), poly.p.end());
    poly.p.erase(poly.p.begin(), poly.p.begin() + static_cast<std::ptrdiff_t>(first));
    poly.low += static_cast<long long>(first);
  }
}

// out = a * b, trimmed; `out` must be neither `a` nor `b`.
void multiply(const Poly& a, const Poly& b, Poly& out) {
  out.low = a.low + b.low;
  out.p.assign(a.p.size() + b.p.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.p.size(); ++i) {
    const double ai = a.p[i];
    double* row = out.p.data() + i;
    for (std::size_t j = 0; j < b.p.size(); ++j) row[j] += ai * b.p[j];
  }
  trim(out);
}

// Natural isotope polynomial of every element, normalised to sum 1.
struct ElementPolys {
  std::array<Poly, kMaxAtomicNumber + 1> base;

  ElementPolys() {
    const RDKit::PeriodicTable* table = RDKit::PeriodicTable::getTable();
    base[0] = Poly{0, {1.0}};
    for (int z = 1; z <= kMaxAtomicNumber; ++z) {
      const auto uz = static_cast<unsigned int>(z);
      const int common = table->getMostCommonIsotope(uz);
      std::vector<std::pair<int, double>> found;
      for (int a = std::max(1, common - kIsotopeSearchSpan); a <= common + kIsotopeSearchSpan; ++a) {
        const double abundance = table->getAbundanceForIsotope(uz, static_cast<unsigned int>(a));
        if (abundance > 0) found.emplace_back(a, abundance);
      }
      Poly& poly = base[z];
      if (found.empty()) {
        poly = Poly{common, {1.0}};
        continue;
      }
      double total = 0;
      for (const auto& [a, abundance] : found) total += abundance;
      poly.low = found.front().first;
      poly.p.assign(static_cast<std::size_t>(found.back().first - found.front().first + 1), 0.0);
      for (const auto& [a, abundance] : found) {
        poly.p[static_cast<std::size_t>(a - poly.low)] = abundance / total;
      }
    }
  }
};

const ElementPolys& element_polys() {
  static const ElementPolys instance;
  return instance;
}

// Powers of the element polynomials. Every power is built by one recurrence,
// P(n) = P(n/2)^2 (times P(1) when n is odd), cached or not, so its value
// never depends on what this thread computed before.
class PowerCache {
 public:
  const Poly& cached(int z, int n) {
    std::vector<Poly>& row = powers_[static_cast<std::size_t>(z)];
    if (row.empty()) row.resize(kCachedCounts + 1);
    Poly& slot = row[static_cast<std::size_t>(n)];
    if (slot.p.empty()) build(z, n, slot);
    return slot;
  }

  // P(n) of element z into `out` (for counts beyond the cache).
  void build(int z, int n, Poly& out) {
    const Poly& base = element_polys().base[static_cast<std::size_t>(z)];
    if (n == 0) {
      out = Poly{0, {1.0}};
      return;
    }
    if (n == 1) {
      out = base;
      return;
    }
    Poly half_local;
    const Poly* half = nullptr;
    if (n / 2 <= kCachedCounts) {
      half = &cached(z, n / 2);
    } else {
      build(z, n / 2, half_local);
      half = &half_local;
    }
    if (n % 2 == 0) {
      multiply(*half, *half, out);
    } else {
      Poly square;
      multiply(*half, *half, square);
      multiply(square, base, out);
    }
  }

 private:
  std::array<std::vector<Poly>, kMaxAtomicNumber + 1> powers_;
};

struct Workspace {
  PowerCache powers;
  Poly product;
  Poly scratch;
  Poly large_power;
};

Workspace& workspace() {
  thread_local Workspace instance;
  return instance;
}

void check_atomic_number(int z) {
  if (z < 0 || z > kMaxAtomicNumber) {
    throw InvalidInput("isotope cluster: no element has atomic number " + std::to_string(z));
  }
}

}  // namespace

void isotope_cluster(std::span<const ElementCount> elements, std::span<const LabelledAtom> labelled,
                     double prune_threshold, std::vector<IsotopePeak>& out) {
  out.clear();
  if (!(prune_threshold >= 0 && prune_threshold < 1)) {
    throw InvalidInput("isotope cluster: the prune threshold must lie in [0, 1), not " +
                       std::to_string(prune_threshold));
  }
  std::array<long long, kMaxAtomicNumber + 1> counts{};
  long long atoms = 0;
  for (const ElementCount& e : elements) {
    check_atomic_number(e.atomic_number);
    if (e.count < 0) {
      throw InvalidInput("isotope cluster: negative count " + std::to_string(e.count) + " of element " +
                         std::to_string(e.atomic_number));
    }
    if (e.atomic_number == 0) continue;
    counts[static_cast<std::size_t>(e.atomic_number)] += e.count;
    atoms += e.count;
    if (atoms > kMaxAtoms) {
      throw InvalidInput("isotope cluster: more than " + std::to_string(kMaxAtoms) + " atoms in one ion");
    }
  }
  long long shift = 0;
  for (const LabelledAtom& a : labelled) {
    check_atomic_number(a.atomic_number);
    if (a.mass_number < std::max(1, a.atomic_number)) {
      throw InvalidInput("isotope cluster: mass number " + std::to_string(a.mass_number) +
                         " is impossible for atomic number " + std::to_string(a.atomic_number));
    }
    shift += a.mass_number;
    if (shift > INT_MAX) throw InvalidInput("isotope cluster: the ion's mass exceeds the range of int");
  }
  if (atoms == 0 && labelled.empty()) throw InvalidInput("isotope cluster: the ion has no atoms");

  Workspace& ws = workspace();
  Poly& product = ws.product;
  product.low = shift;
  product.p.assign(1, 1.0);
  for (int z = 1; z <= kMaxAtomicNumber; ++z) {
    const long long n = counts[static_cast<std::size_t>(z)];
    if (n == 0) continue;
    const Poly* power = nullptr;
    if (n <= kCachedCounts) {
      power = &ws.powers.cached(z, static_cast<int>(n));
    } else {
      ws.powers.build(z, static_cast<int>(n), ws.large_power);
      power = &ws.large_power;
    }
    multiply(product, *power, ws.scratch);
    std::swap(product, ws.scratch);
  }
  if (product.low + static_cast<long long>(product.p.size()) - 1 > INT_MAX) {
    throw InvalidInput("isotope cluster: the ion's mass exceeds the range of int");
  }

  const double largest = *std::max_element(product.p.begin(), product.p.end());
  const double cutoff = largest * prune_threshold;
  double kept = 0;
  for (std::size_t k = 0; k < product.p.size(); ++k) {
    const double v = product.p[k];
    if (v > 0 && v >= cutoff) {
      out.push_back(IsotopePeak{static_cast<int>(product.low + static_cast<long long>(k)), v});
      kept += v;
    }
  }
  for (IsotopePeak& peak : out) peak.abundance /= kept;
}

std::vector<IsotopePeak> isotope_cluster(std::span<const ElementCount> elements, std::span<const LabelledAtom> labelled,
                                         double prune_threshold) {
  std::vector<IsotopePeak> out;
  isotope_cluster(elements, labelled, prune_threshold, out);
  return out;
}

std::vector<IsotopePeak> scaled_to_most_abundant(std::span<const IsotopePeak> cluster) {
  std::vector<IsotopePeak> out(cluster.begin(), cluster.end());
  double largest = 0;
  for (const IsotopePeak& peak : out) largest = std::max(largest, peak.abundance);
  if (largest > 0) {
    for (IsotopePeak& peak : out) peak.abundance /= largest;
  }
  return out;
}

IonComposition ion_composition(const RDKit::ROMol& mol, std::span<const int> atoms, int hydrogen_shift) {
  core::check_atom_indices(mol, atoms);
  std::vector<bool> seen(mol.getNumAtoms(), false);
  std::array<long long, kMaxAtomicNumber + 1> counts{};
  IonComposition composition;
  for (int i : atoms) {
    if (seen[static_cast<std::size_t>(i)]) {
      throw InvalidInput("ion composition: atom " + std::to_string(i) + " is listed twice");
    }
    seen[static_cast<std::size_t>(i)] = true;
    const RDKit::Atom* atom = mol.getAtomWithIdx(static_cast<unsigned int>(i));
    const int z = atom->getAtomicNum();
    if (const int label = core::mass_label(*atom); label != 0) {
      composition.labelled.push_back(LabelledAtom{z, label});
    } else {
      ++counts[static_cast<std::size_t>(z)];
    }
    counts[1] += atom->getTotalNumHs(false);
  }
  if (hydrogen_shift > 0) {
    counts[1] += hydrogen_shift;
  } else if (hydrogen_shift < 0) {
    long long take = -static_cast<long long>(hydrogen_shift);
    const long long natural = std::min(take, counts[1]);
    counts[1] -= natural;
    take -= natural;
    auto& labelled = composition.labelled;
    while (take > 0) {
      auto lightest = labelled.end();
      for (auto it = labelled.begin(); it != labelled.end(); ++it) {
        if (it->atomic_number != 1) continue;
        if (lightest == labelled.end() || it->mass_number <= lightest->mass_number) lightest = it;
      }
      if (lightest == labelled.end()) {
        throw InvalidInput("ion composition: " + std::to_string(-hydrogen_shift) +
                           " hydrogens to take away, but the atoms hold fewer");
      }
      labelled.erase(lightest);
      --take;
    }
  }
  for (int z = 0; z <= kMaxAtomicNumber; ++z) {
    const long long n = counts[static_cast<std::size_t>(z)];
    if (n > INT_MAX) throw InvalidInput("ion composition: too many atoms");
    if (n > 0) composition.elements.push_back(ElementCount{z, static_cast<int>(n)});
  }
  return composition;
}

}  // namespace tessarin::spectra
