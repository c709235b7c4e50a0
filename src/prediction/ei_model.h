// The EI intensity model: a predicted electron-ionisation spectrum with
// intensities, from ions that compete for the ion current.
//
// Candidate ions. The molecule is its graph of heavy atoms (hydrogen atoms
// count with the atom that carries them; a labelled hydrogen keeps its mass).
// A piece is the set of atoms on one side of an acyclic bond (one cut), or a
// connected set of atoms bordered by exactly two cut bonds, ring bonds
// included (two cuts). Every piece gives five ions, its own hydrogens -2..+2
// (none with fewer than no hydrogens); the intact molecule gives three, its
// hydrogens 0, -1 and -2.
//
// Features. Each ion carries named features (value 1 unless said otherwise):
// what the charged atom at each cut would be ("benzylic site", "site alpha to
// amine N", "acylium C site", ... with a 1/2 share per cut of a two-cut piece),
// the same crossed with the hydrogen shift ("benzylic site, +1 H"), what the
// neutral's atom at the cut would be, the bond kinds cut, what the neutral
// holds and how big it is, the ion's ring-plus-double-bond count, the ion's
// formula for the common low-mass formulas ("ion C7H7", up to m/z 150) and the
// neutral lost ("loses H2O"), labelled atoms named as their element (a label
// moves masses, not the chemistry). A one-cut piece whose cut is the beta bond of a
// McLafferty rearrangement (a gamma hydrogen moves to a C=O, C=N or aromatic
// acceptor, the alpha-beta bond breaks) names it on its +1 H ion (acceptor
// side) or -1 H ion (alkene side), by acceptor kind. The molecular ion carries
// what kind of molecule it is. Only features with a weight in the table count.
//
// Intensities. An ion's score is the sum of its features' weights. Within a
// molecule the ion current is shared in proportion to exp(score); each ion's
// share is spread over its isotope cluster (each isotope peak weighted by the
// square root of its abundance relative to the cluster's strongest) and summed
// per nominal m/z, giving a predicted square-rooted intensity v. A peak's
// intensity is 999 (v / v_max)^gamma, rounded half to even; peaks below
// kEiIntensityFloor of the base peak are dropped.
#pragma once

#include <GraphMol/ROMol.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "spectra/isotopes.h"
#include "spectra/spectrum.h"

namespace tessarin::prediction {

// A named feature and its value.
using EiFeature = std::pair<std::string, double>;

// One candidate ion: its nominal m/z (labelled atoms at their own mass
// number), its formula ("C7H7"), the formula of the neutral it leaves behind
// ("" for the molecular ion and where none is defined), its hydrogen shift,
// its features (they may repeat a name; their values add up) and its isotope
// cluster scaled to the most abundant peak = 1.
struct EiIon {
  int mz = 0;
  std::string formula;
  std::string neutral;
  int hydrogen_shift = 0;
  bool molecular = false;
  std::vector<EiFeature> features;
  std::vector<spectra::IsotopePeak> cluster;
};

// Every candidate ion of `mol` with all its features, formula and loss
// features included whatever the weight table holds (the fitting script reads
// these). Hydrogen atoms of the graph fold into their neighbour. Throws
// InvalidInput for a molecule without atoms.
std::vector<EiIon> ei_candidate_ions(const RDKit::ROMol& mol);

// One peak of the EI model, with the formula of every ion at that m/z, the
// strongest contribution first (an m/z reached only as an isotope peak names
// the ions whose clusters reach it, e.g. "CCl3 isotope +2").
struct EiPeak {
  int mz = 0;
  int intensity = 0;  // 1..999
  std::vector<std::string> formulas;
  bool operator==(const EiPeak&) const = default;
};

// The EI spectrum of `mol`, ascending m/z.
std::vector<EiPeak> ei_peaks(const RDKit::ROMol& mol);

// The molecule the EI model reads from a SMILES: sanitised as RDKit does
// when it can, else as written with aromaticity perceived as far as that
// goes. Throws InvalidInput when the SMILES does not parse.
std::unique_ptr<RDKit::ROMol> ei_molecule(const std::string& smiles);

// The same for a SMILES, read by ei_molecule (every caller reads the molecule
// the same way, so a spectrum does not depend on the path that asks for it).
std::vector<EiPeak> ei_peaks_of_smiles(const std::string& smiles);

// The same as a Spectrum for `smiles` (parsed here), with the name, SMILES,
// the comment naming the model, and the formula and nominal mass given.
// Throws InvalidInput when the SMILES does not parse.
spectra::Spectrum ei_spectrum(const std::string& smiles, const std::string& formula, int mol_mass,
                              const std::string& name = {});

// The comment written into every record of the EI model.
inline constexpr const char* kEiModelComment = "intensities predicted by the EI model (--model ei)";

}  // namespace tessarin::prediction
