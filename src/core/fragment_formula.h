// Text of atom sets: molecular formulas and atom-pair labels.
#pragma once

#include <GraphMol/Atom.h>
#include <GraphMol/ROMol.h>

#include <compare>
#include <span>
#include <string>
#include <string_view>

namespace tessarin::core {

// Where the atoms of one kind go in a formula and how they are written.
// Terms sort by (group, symbol, label): carbon, then hydrogen, then the other
// symbols in code-point order; within an element the ordinary atoms come
// first, then each label (core::mass_label) in ascending order.
struct FormulaTerm {
  int group = 2;       // 0 carbon, 1 hydrogen, 2 any other element (or the dummy atom)
  std::string symbol;  // the element symbol as RDKit writes it
  int label = 0;       // mass number of a labelled atom, 0 for an ordinary one
  // "C", "Cl"; D and T for [2H] and [3H]; the bracketed mass number and
  // symbol for other labels: "[13C]", "[37Cl]".
  std::string text() const;
  auto operator<=>(const FormulaTerm&) const = default;
};

FormulaTerm formula_term(const RDKit::Atom& atom);

// The term of an atom of `atomic_number` whose isotope field is `isotope` (0
// when not set), with RDKit's symbol for the element.
FormulaTerm formula_term(int atomic_number, int isotope);

// Formula of the atoms at `indices`, each term followed by its count when
// above 1, in FormulaTerm order: C6H5NO2, HCl, H2O; labelled atoms as
// chemists write them, CHD3O for [2H]C([2H])([2H])O, C5[13C]H6 for benzene
// with one 13C, CH3[37Cl]. The masses of the engine count the same labels
// (core::atom_nominal_mass). Charges are ignored. Throws IndexOutOfRange for
// a bad index.
std::string fragment_formula(const RDKit::ROMol& mol, std::span<const int> indices);

// "<symbol i><i>-<symbol j><j>", e.g. "C0-Cl4"; the indices are not reordered.
std::string pair_label(const RDKit::ROMol& mol, int i, int j);

// The same label from symbols and indices already at hand.
std::string pair_label(std::string_view symbol_i, int i, std::string_view symbol_j, int j);

}  // namespace tessarin::core
