// Reading a SMILES string into the molecule every analysis works on.
#pragma once

#include <GraphMol/ROMol.h>
#include <GraphMol/RWMol.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessarin::molecule {

// What the preparation perceived of the molecule before it kekulized it (the
// Kekulé structure keeps none of it): the aromatic atoms and bonds, perceived
// from the Kekulé structure as a sanitised reading does (so p-benzoquinone
// written in lower case is not aromatic), and the rings (RDKit's smallest
// set of smallest rings, as atom indices). Where kekulization fails, the
// aromaticity as far as perception got. Indexed by atom and bond index; the
// hydrogens added afterwards are not aromatic.
struct Perception {
  std::vector<char> aromatic_atoms;
  std::vector<char> aromatic_bonds;
  std::vector<std::vector<int>> rings;
};

// A prepared molecule and its perception.
struct PreparedMolecule {
  std::unique_ptr<RDKit::ROMol> mol;
  Perception perception;
};

// Parse without sanitising (unusual valences and charges are kept as
// written), refresh the property cache, perceive aromaticity and kekulize
// (failures there are ignored: bonds that stay aromatic count as order 2),
// then make every hydrogen an explicit atom. Nothing when the string does not
// parse (a NUL character included) or gives a molecule without atoms.
std::optional<PreparedMolecule> prepare(const std::string& smiles);

// The same molecule alone; nullptr where prepare gives nothing.
std::unique_ptr<RDKit::ROMol> prepare_molecule(const std::string& smiles);

// The molecule of `smiles` sanitised as RDKit does; one RDKit will not
// sanitise (unusual valences and charges) as written, ordinary explicit
// hydrogens made implicit, with its property cache refreshed and its rings
// found (fast ring perception, no aromaticity).
// `sanitised`, when given, says which. Returns nullptr when the string does
// not parse (a NUL character included) or gives a molecule without atoms.
std::unique_ptr<RDKit::RWMol> read_smiles_leniently(const std::string& smiles, bool* sanitised = nullptr);

// Why `smiles` gives no molecule, in RDKit's own words: what its parser
// logs ("SMILES Parse Error: unclosed ring for input: 'C1CC'") and, with
// `sanitise`, why sanitisation fails ("Explicit valence for atom # 1 N, 4, is
// greater than permitted"); "unparsable SMILES" when RDKit says nothing
// (as when its error log, "rdApp.error", is disabled).
// The string is read again for this; the log is captured for the calling
// thread only, so threads reading other molecules keep their own messages.
std::string smiles_error(const std::string& smiles, bool sanitise = false);

// Sends RDKit's error log through the per-thread capture smiles_error uses
// (what no capture takes goes where the log went before). smiles_error does
// it on first use; a program that reads molecules on several threads calls
// it once at its start, before the threads run.
void route_rdkit_errors();

}  // namespace tessarin::molecule
