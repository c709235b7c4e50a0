// Nominal (integer) and average masses of atom sets of a molecule.
//
// An atom written with a mass number ([2H], [13C], [18O], [37Cl]) weighs that
// mass number; every other atom weighs its element's most common isotope.
// Implicit hydrogens made explicit on a labelled atom are ordinary hydrogen,
// and [1H] is ordinary hydrogen too. The dummy atom weighs 0, label or not.
#pragma once

#include <GraphMol/Atom.h>
#include <GraphMol/ROMol.h>

#include <functional>
#include <span>
#include <vector>

namespace tessarin::core {

// The mass number an atom is labelled with, or 0 for an ordinary atom: no
// label, [1H], or a dummy atom (whose label only tags it).
int mass_label(const RDKit::Atom& atom);

// The same for an atom of `atomic_number` whose isotope field is `isotope`
// (0 when not set).
int mass_label(int atomic_number, int isotope);

// Nominal mass of one atom: its label when it has one, else its element's
// most common isotope. Every nominal mass in the engine is a sum of these.
int atom_nominal_mass(const RDKit::Atom& atom);

// Sum of atom_nominal_mass over the atoms at `indices` (an index given twice
// counts twice). Throws IndexOutOfRange for a bad index.
int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices);

// The same with the nominal mass of each ordinary atom taken from
// `element_mass` (by atomic number), asked once per element present; a
// labelled atom still weighs its label.
int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices, const std::function<int(int)>& element_mass);

// Nominal mass of the whole molecule (every atom, explicit hydrogens included).
int nominal_mass(const RDKit::ROMol& mol);

// Sum of RDKit average atomic masses of the atoms at `indices` (a labelled
// atom has its isotope's mass there).
double average_mass(const RDKit::ROMol& mol, std::span<const int> indices);

// Atomic numbers of the atoms at `indices`, in the order given.
std::vector<int> atomic_numbers(const RDKit::ROMol& mol, std::span<const int> indices);

}  // namespace tessarin::core
