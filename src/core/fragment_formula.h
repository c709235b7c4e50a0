// Text of atom sets: molecular formulas and atom-pair labels.
#pragma once

#include <GraphMol/ROMol.h>

#include <span>
#include <string>

namespace tessarin::core {

// Formula of the atoms at `indices`: C, then H, then every other symbol in
// code-point order; a count is written only when above 1 (C6H5NO2, HCl, H2O).
// Charges and isotopes are ignored. Throws IndexOutOfRange for a bad index.
std::string fragment_formula(const RDKit::ROMol& mol, std::span<const int> indices);

// "<symbol i><i>-<symbol j><j>", e.g. "C0-Cl4"; the indices are not reordered.
std::string pair_label(const RDKit::ROMol& mol, int i, int j);

// The same label from symbols and indices already at hand.
std::string pair_label(std::string_view symbol_i, int i, std::string_view symbol_j, int j);

}  // namespace tessarin::core
