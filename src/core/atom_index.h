// Validation of atom indices given by callers, before RDKit sees them.
#pragma once

#include <GraphMol/ROMol.h>

#include <span>
#include <string>

#include "core/errors.h"

namespace tessarin::core {

inline void check_atom_index(const RDKit::ROMol& mol, long long index) {
  const long long n = static_cast<long long>(mol.getNumAtoms());
  if (index < 0 || index >= n) {
    throw IndexOutOfRange("atom index " + std::to_string(index) + " is out of range for a molecule of " +
                          std::to_string(n) + " atom" + (n == 1 ? "" : "s"));
  }
}

inline void check_atom_indices(const RDKit::ROMol& mol, std::span<const int> indices) {
  for (int i : indices) check_atom_index(mol, i);
}

}  // namespace tessarin::core
