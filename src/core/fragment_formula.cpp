#include "core/fragment_formula.h"

#include <GraphMol/PeriodicTable.h>

#include <map>

#include "core/atom_index.h"
#include "core/nominal_mass.h"

namespace tessarin::core {
namespace {

void append_term(std::string& out, const std::string& text, int count) {
  if (count <= 0) return;
  out += text;
  if (count > 1) out += std::to_string(count);
}

}  // namespace

std::string FormulaTerm::text() const {
  if (label == 0) return symbol;
  if (symbol == "H" && label == 2) return "D";
  if (symbol == "H" && label == 3) return "T";
  std::string out = "[";
  out += std::to_string(label);
  out += symbol;
  out += ']';
  return out;
}

FormulaTerm formula_term(const RDKit::Atom& atom) {
  const int z = atom.getAtomicNum();
  return {z == 6 ? 0 : z == 1 ? 1 : 2, atom.getSymbol(), mass_label(atom)};
}

FormulaTerm formula_term(int atomic_number, int isotope) {
  const int z = atomic_number;
  return {z == 6   ? 0
          : z == 1 ? 1
                   : 2,
          RDKit::PeriodicTable::getTable()->getElementSymbol(static_cast<unsigned>(z)), mass_label(z, isotope)};
}

std::string fragment_formula(const RDKit::ROMol& mol, std::span<const int> indices) {
  check_atom_indices(mol, indices);
  std::map<FormulaTerm, int> counts;
  for (int i : indices) ++counts[formula_term(*mol.getAtomWithIdx(i))];
  std::string out;
  for (const auto& [term, count] : counts) append_term(out, term.text(), count);
  return out;
}

std::string pair_label(std::string_view symbol_i, int i, std::string_view symbol_j, int j) {
  std::string out;
  out.reserve(symbol_i.size() + symbol_j.size() + 12);
  out.append(symbol_i).append(std::to_string(i)).append("-").append(symbol_j).append(std::to_string(j));
  return out;
}

std::string pair_label(const RDKit::ROMol& mol, int i, int j) {
  check_atom_index(mol, i);
  check_atom_index(mol, j);
  return pair_label(mol.getAtomWithIdx(i)->getSymbol(), i, mol.getAtomWithIdx(j)->getSymbol(), j);
}

}  // namespace tessarin::core
