// Isotope clusters of ions at nominal (integer m/z) resolution, from the
// natural isotope abundances of RDKit's periodic table.
//
// The cluster of an ion is the product of one polynomial per element,
// sum_A abundance(A) x^A raised to the element's count (powers by repeated
// squaring), times x^A for every atom that carries an explicit isotope
// (abundance 1). Powers are kept per thread and per element, and each power
// is always built by the same recurrence, so a cluster is the same to the
// last bit whatever was computed before it and on whichever thread.
#pragma once

#include <GraphMol/ROMol.h>

#include <span>
#include <vector>

namespace tessarin::spectra {

// `count` atoms of one element at natural abundance. Atomic number 0 (the
// dummy atom) is massless and adds nothing.
struct ElementCount {
  int atomic_number = 0;
  int count = 0;
};

// One atom with an explicit isotope ([2H], [13C], [37Cl]): it counts at its
// own mass number with abundance 1.
struct LabelledAtom {
  int atomic_number = 0;
  int mass_number = 0;
};

struct IsotopePeak {
  int mz = 0;
  double abundance = 0;
  bool operator==(const IsotopePeak&) const = default;
};

// Peaks weaker than this share of the cluster's strongest peak are dropped
// (below 0.1 on the 0..999 scale even when the cluster holds the base peak).
inline constexpr double kIsotopePruneThreshold = 1e-4;

// The isotope cluster of a singly charged ion: (nominal m/z, abundance)
// pairs in ascending m/z, without the peaks below `prune_threshold` times the
// strongest, normalised so the kept peaks sum to 1. Entries may repeat an
// element; their counts add up, in any order, to the same result. An element
// the table gives no natural abundance for (Tc, Pm, most radioactive heavy
// elements) counts at its most common isotope. While multiplying, the polynomials' end terms below 1e-15 of their
// largest are trimmed; no reported abundance moves by more than ~1e-13 from
// that.
//
// Throws InvalidInput for an atomic number outside 0..118, a negative count,
// a mass number below max(1, atomic number), a threshold outside [0, 1), an
// ion without atoms, or a nominal mass beyond the range of int.
std::vector<IsotopePeak> isotope_cluster(std::span<const ElementCount> elements,
                                         std::span<const LabelledAtom> labelled = {},
                                         double prune_threshold = kIsotopePruneThreshold);

// The same into `out` (cleared first), reusing its storage.
void isotope_cluster(std::span<const ElementCount> elements, std::span<const LabelledAtom> labelled,
                     double prune_threshold, std::vector<IsotopePeak>& out);

// The cluster rescaled so its most abundant peak is 1.
std::vector<IsotopePeak> scaled_to_most_abundant(std::span<const IsotopePeak> cluster);

// Atom make-up of an ion, the input of isotope_cluster.
struct IonComposition {
  std::vector<ElementCount> elements;  // ascending atomic number, counts > 0
  std::vector<LabelledAtom> labelled;  // in atom order
};

// Composition of the atoms at `atoms` of `mol` (each index once): atoms with
// an isotope set are labelled; the others, and the hydrogens any atom carries
// as a count rather than as atoms of their own, are natural. `hydrogen_shift` adds
// natural hydrogens (> 0) or takes hydrogens away (< 0): natural ones first,
// then labelled hydrogens of the lowest mass number, last listed first.
// Throws IndexOutOfRange for a bad index and InvalidInput when more
// hydrogens are taken than the atoms hold.
IonComposition ion_composition(const RDKit::ROMol& mol, std::span<const int> atoms, int hydrogen_shift = 0);

}  // namespace tessarin::spectra
