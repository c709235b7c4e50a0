#include "identify/structure.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <cctype>
#include <memory>
#include <numeric>
#include <vector>

#include "core/errors.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "molecule/prepare_molecule.h"

namespace tessarin::identify {

std::optional<std::string> canonical_smiles(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol = molecule::read_smiles_leniently(smiles);
  if (!mol) return std::nullopt;
  RDKit::MolOps::removeStereochemistry(*mol);
  return RDKit::MolToSmiles(*mol);
}

std::optional<Composition> composition_of(const std::string& smiles) {
  std::unique_ptr<RDKit::ROMol> mol = molecule::prepare_molecule(smiles);
  if (!mol) return std::nullopt;
  return composition_of(*mol);
}

Composition composition_of(const RDKit::ROMol& mol) {
  std::vector<int> atoms(mol.getNumAtoms());
  std::iota(atoms.begin(), atoms.end(), 0);
  return Composition{core::fragment_formula(mol, atoms), core::nominal_mass(mol)};
}

std::map<std::string, long long> formula_counts(std::string_view formula) {
  std::map<std::string, long long> counts;
  std::size_t i = 0;
  auto refuse = [&]() -> void {
    std::string message = "'";
    message.append(formula).append("' is not a molecular formula (element symbols with counts, like C6H6)");
    throw InvalidInput(message);
  };
  bool any = false;
  while (i < formula.size()) {
    const auto c = static_cast<unsigned char>(formula[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    std::string symbol;
    if (c == '[') {
      // A labelled element: "[13C]"; [1H], [2H] and [3H] are H, D and T.
      std::string label;
      ++i;
      while (i < formula.size() && std::isdigit(static_cast<unsigned char>(formula[i])) && label.size() < 4) {
        label += formula[i++];
      }
      if (label.empty() || label[0] == '0' || i >= formula.size() ||
          !std::isupper(static_cast<unsigned char>(formula[i]))) {
        refuse();
      }
      std::string element(1, formula[i++]);
      while (i < formula.size() && std::islower(static_cast<unsigned char>(formula[i]))) element += formula[i++];
      if (i >= formula.size() || formula[i] != ']') refuse();
      ++i;
      symbol = core::FormulaTerm{2, element, element == "H" && label == "1" ? 0 : std::stoi(label)}.text();
    } else {
      if (!std::isupper(c)) refuse();
      symbol.assign(1, formula[i++]);
      while (i < formula.size() && std::islower(static_cast<unsigned char>(formula[i]))) symbol += formula[i++];
    }
    long long n = 1;
    if (i < formula.size() && std::isdigit(static_cast<unsigned char>(formula[i]))) {
      n = 0;
      while (i < formula.size() && std::isdigit(static_cast<unsigned char>(formula[i]))) {
        if (n > 1'000'000'000) refuse();
        n = n * 10 + (formula[i++] - '0');
      }
    }
    counts[symbol] += n;
    any = true;
  }
  if (!any) refuse();
  std::erase_if(counts, [](const auto& entry) { return entry.second == 0; });
  return counts;
}

bool same_formula(std::string_view a, std::string_view b) { return formula_counts(a) == formula_counts(b); }

}  // namespace tessarin::identify
