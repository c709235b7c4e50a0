#include "core/nominal_mass.h"

#include <map>

#include "core/atom_index.h"
#include "core/element_data.h"

namespace tessarin::core {

int mass_label(int atomic_number, int isotope) {
  if (atomic_number == 0 || (atomic_number == 1 && isotope == 1)) return 0;
  return isotope;
}

int mass_label(const RDKit::Atom& atom) { return mass_label(atom.getAtomicNum(), static_cast<int>(atom.getIsotope())); }

int atom_nominal_mass(const RDKit::Atom& atom) {
  const int label = mass_label(atom);
  return label != 0 ? label : nominal_atom_mass(atom.getAtomicNum());
}

int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices) {
  check_atom_indices(mol, indices);
  int total = 0;
  for (int i : indices) total += atom_nominal_mass(*mol.getAtomWithIdx(i));
  return total;
}

int nominal_mass(const RDKit::ROMol& mol, std::span<const int> indices, const std::function<int(int)>& element_mass) {
  check_atom_indices(mol, indices);
  std::map<int, int> mass_of;
  int total = 0;
  for (int i : indices) {
    const RDKit::Atom& atom = *mol.getAtomWithIdx(i);
    if (const int label = mass_label(atom); label != 0) {
      total += label;
      continue;
    }
    const int z = atom.getAtomicNum();
    auto it = mass_of.find(z);
    if (it == mass_of.end()) it = mass_of.emplace(z, element_mass(z)).first;
    total += it->second;
  }
  return total;
}

int nominal_mass(const RDKit::ROMol& mol) {
  int total = 0;
  for (const RDKit::Atom* atom : mol.atoms()) total += atom_nominal_mass(*atom);
  return total;
}

double average_mass(const RDKit::ROMol& mol, std::span<const int> indices) {
  check_atom_indices(mol, indices);
  double total = 0.0;
  for (int i : indices) total += mol.getAtomWithIdx(i)->getMass();
  return total;
}

std::vector<int> atomic_numbers(const RDKit::ROMol& mol, std::span<const int> indices) {
  check_atom_indices(mol, indices);
  std::vector<int> out;
  out.reserve(indices.size());
  for (int i : indices) out.push_back(mol.getAtomWithIdx(i)->getAtomicNum());
  return out;
}

}  // namespace tessarin::core
