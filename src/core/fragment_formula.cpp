#include "core/fragment_formula.h"

#include <GraphMol/Atom.h>

#include <map>

#include "core/atom_index.h"

namespace tessarin::core {
namespace {

void append_term(std::string& out, const std::string& symbol, int count) {
  if (count <= 0) return;
  out += symbol;
  if (count > 1) out += std::to_string(count);
}

}  // namespace

std::string fragment_formula(const RDKit::ROMol& mol, std::span<const int> indices) {
  check_atom_indices(mol, indices);
  // std::string compares bytes, i.e. code points for the ASCII element symbols.
  std::map<std::string, int> counts;
  for (int i : indices) ++counts[mol.getAtomWithIdx(i)->getSymbol()];

  std::string out;
  for (const char* first : {"C", "H"}) {
    auto it = counts.find(first);
    if (it != counts.end()) {
      append_term(out, it->first, it->second);
      counts.erase(it);
    }
  }
  for (const auto& [symbol, count] : counts) append_term(out, symbol, count);
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
