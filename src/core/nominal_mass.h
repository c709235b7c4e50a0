// Nominal (integer) and average masses of atom sets of a molecule.
#pragma once

#include <GraphMol/ROMol.h>

#include <functional>
#include <span>
#include <vector>

namespace tessarin::core {

// Sum of the most-common-isotope mass numbers of the atoms at `indices`
// (an index given twice counts twice). Throws IndexOutOfRange for a bad index.
int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices);

// The same with the nominal mass of each element (by atomic number) taken from
// `element_mass`, asked once per element present.
int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices, const std::function<int(int)>& element_mass);

// Nominal mass of the whole molecule (every atom, explicit hydrogens included).
int nominal_mass(const RDKit::ROMol& mol);

// Sum of RDKit average atomic masses of the atoms at `indices`.
double average_mass(const RDKit::ROMol& mol, std::span<const int> indices);

// Atomic numbers of the atoms at `indices`, in the order given.
std::vector<int> atomic_numbers(const RDKit::ROMol& mol, std::span<const int> indices);

}  // namespace tessarin::core
