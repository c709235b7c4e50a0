// The molecular formulas a molecule of a given nominal mass can have: the
// formulas to search a compound database with when only the mass is known.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tessarin::identify {

// The elements candidate formulas are built from when the caller names none:
// C, H, N, O, S, P, F, Cl, Br, I, Si (the elements of nearly every compound
// an EI spectrum is measured of). Only these can be named.
const std::vector<std::string>& candidate_elements();

// Largest nominal mass formulas are enumerated for.
inline constexpr int kMaxFormulaMass = 1000;

struct FormulaList {
  std::vector<std::string> formulas;  // the most plausible, best first
  std::size_t total = 0;              // formulas the rules allow, those left out included
};

// The molecular formulas of nominal mass `nominal_mass` (monoisotopic
// nominal masses: C 12, H 1, N 14, O 16, S 32, P 31, F 19, Cl 35, Br 79,
// I 127, Si 28) made of `elements` (empty: candidate_elements()) that a
// neutral, even-electron organic molecule can have:
//  - at least one carbon;
//  - rings plus double bonds, counted with the lowest valences (C, Si 4;
//    N, P 3; O, S 2; H and the halogens 1), a whole number >= 0, which also
//    makes the nominal mass odd exactly when the nitrogen count is;
//  - at most 4 N, 3 O, 2 P, 3 S and 1 Si per carbon;
//  - at most 12 Cl, 8 Br, 4 I, 4 S, 3 P and 6 Si; at most four elements
//    besides C and H, at most three of them among S, P, Si and the halogens.
// The `limit` most plausible of them, written as core::fragment_formula
// writes them (C, H, then the other symbols in code-point order), ordered by
// a cost: each element besides C and H costs as it is rare in compounds (O
// least, then N, Cl, S, Si, F, Br, P, I) and so does each further atom of
// it; rings plus double bonds beyond three quarters of the carbons plus one
// cost, and so does leaving the ratios most compounds keep (H/C 0.2-3.1; per
// carbon at most 1.3 N, 1.2 O, 0.3 P, 0.8 S, 0.5 Si, 1.5 F, 0.8 Cl, Br or I).
// Equal costs go by the formula's text. Throws InvalidInput for an element
// not among candidate_elements(), a list without carbon, or a mass outside
// 1..kMaxFormulaMass.
FormulaList formulas_of_nominal_mass(int nominal_mass, const std::vector<std::string>& elements, std::size_t limit);

// Throws what formulas_of_nominal_mass throws for these arguments, without enumerating.
void check_formula_request(int nominal_mass, const std::vector<std::string>& elements);

}  // namespace tessarin::identify
