// What the drivers need to know about a structure before (or instead of)
// predicting its spectrum: its identity as a canonical SMILES, and its
// formula and nominal mass.
#pragma once

#include <GraphMol/ROMol.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tessarin::identify {

// RDKit's canonical SMILES of `smiles` with stereochemistry removed (double
// bond geometry, tetrahedral centres; isotopes stay), so that two records of
// one structure drawn differently compare equal. A SMILES that parses but
// fails sanitisation (unusual valences) is canonicalised as written. Nothing
// when it does not parse.
std::optional<std::string> canonical_smiles(const std::string& smiles);

// The formula (core::fragment_formula: C, H, then the other symbols) and
// nominal mass of the molecule the analysis would see: the SMILES prepared
// as for an analysis, every hydrogen counted. Nothing when it does not parse.
struct Composition {
  std::string formula;
  int nominal_mass = 0;
};
std::optional<Composition> composition_of(const std::string& smiles);
// The same of a molecule so prepared.
Composition composition_of(const RDKit::ROMol& prepared);

// Element counts of a formula written as element symbols each followed by
// an optional count ("C6H6", "H2O", "C2H3Cl"; blanks between the parts are
// allowed, a count of 0 drops the element). A labelled element is its own
// entry, written as core::fragment_formula writes it: "[13C]", D and T (also
// read as [2H] and [3H]; [1H] is H). Throws InvalidInput for text that is not
// such a formula (charges, other brackets, lower-case starts).
std::map<std::string, long long> formula_counts(std::string_view formula);

// True when the two formulas have the same element counts.
bool same_formula(std::string_view a, std::string_view b);

}  // namespace tessarin::identify
