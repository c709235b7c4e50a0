#include "molecule/prepare_molecule.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>

namespace tessarin::molecule {
namespace {

std::unique_ptr<RDKit::ROMol> prepare(std::unique_ptr<RDKit::RWMol> mol) {
  if (!mol || mol->getNumAtoms() == 0) return nullptr;
  mol->updatePropertyCache(/*strict=*/false);
  try {
    RDKit::MolOps::setAromaticity(*mol);
    RDKit::MolOps::Kekulize(*mol, /*markAtomsBonds=*/true);
  } catch (const std::exception&) {
    // Keep the molecule as far as perception got.
  }
  RDKit::MolOps::addHs(*mol);
  return mol;
}

}  // namespace

std::unique_ptr<RDKit::ROMol> prepare_molecule(const std::string& smiles) {
  // The parser stops at a NUL character and would read only the text before
  // it; no SMILES contains one, so such a string does not parse.
  if (smiles.find('\0') != std::string::npos) return nullptr;
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::SmilesToMol(smiles, 0, /*sanitize=*/false));
  } catch (const std::exception&) {
    return nullptr;  // the parser's own errors mean the same as a failed parse
  }
  return prepare(std::move(mol));
}

std::unique_ptr<RDKit::RWMol> read_smiles_leniently(const std::string& smiles, bool* sanitised) {
  if (smiles.find('\0') != std::string::npos) return nullptr;
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::SmilesToMol(smiles));
  } catch (const std::exception&) {
    mol.reset();
  }
  if (sanitised) *sanitised = mol != nullptr;
  if (!mol) {
    try {
      RDKit::SmilesParserParams params;  // explicit hydrogens removed, as a sanitised read does
      params.sanitize = false;
      mol.reset(RDKit::SmilesToMol(smiles, params));
      if (mol) {
        mol->updatePropertyCache(/*strict=*/false);
        RDKit::MolOps::fastFindRings(*mol);
      }
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  if (!mol || mol->getNumAtoms() == 0) return nullptr;
  return mol;
}

}  // namespace tessarin::molecule
