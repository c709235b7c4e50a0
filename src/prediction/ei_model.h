// The EI intensity model: a predicted electron-ionisation spectrum with
// intensities, from ions that compete for the ion current.
//
// The molecule. The model reads the prepared molecule (molecule::prepare:
// every hydrogen an atom, the Kekulé structure) with the aromaticity and
// rings its preparation perceived. It is the graph of the heavy atoms; the
// hydrogen atoms count with the atom that carries them (a labelled hydrogen
// keeps its mass).
//
// Candidate ions. A piece is the set of atoms on one side of an acyclic bond
// (one cut), or a connected set of atoms bordered by exactly two cut bonds,
// ring bonds included (two cuts); the cuts are ms::AtomGraph's. Every piece
// gives up to five ions, its own atoms with hydrogens -2..+2 moved: a
// hydrogen lost leaves from the piece's own hydrogens (natural ones first),
// and one gained comes from the rest of the molecule, which must hold it
// (natural ones first, then labelled ones, lightest first). The intact
// molecule gives three ions, its hydrogens 0, -1 and -2. So every ion is a
// set of the molecule's own atoms: its formula is a sub-formula of the
// molecule's, labelled atoms counted as their own terms.
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
// side) or -1 H ion (alkene side), by acceptor kind. A piece cut out of a ring
// system by two ring bonds names the smallest ring holding both cuts and how
// many of its atoms the piece keeps; a six-membered ring cut into the four
// atoms around a double or aromatic bond and the other two is a
// retro-Diels-Alder cleavage, named on each ion by side (diene or ene) and
// hydrogen shift. A cut C-X single bond (X an alcohol's, ester's or ether's
// O, a halogen, an amine N, a thiol S) whose carbon has a saturated carbon
// with hydrogens beside it on its own side is an elimination of HX: each of
// its ions names what leaves ("eliminates water", "eliminates an acid", ...),
// its side (the alkene's or the leaving group's own) and hydrogen shift. The
// molecular ion carries what kind of molecule it is. Only
// features with a weight in the table count.
//
// Intensities. An ion's score is the sum of its features' weights times
// their values, and its intensity is exp(score): the ion current is shared in
// proportion to it. Each ion's intensity is spread linearly over its isotope
// cluster (natural abundances, summing to 1), so a cluster keeps the ratios
// of its abundances exactly, and the peaks are summed per nominal m/z. A
// peak's intensity is 999 times its share of the base peak, rounded half to
// even; peaks below kEiIntensityFloor of the base peak are dropped.
//
// The fingerprint network (fingerprint_network.h) takes part before the
// clusters are spread: its predicted intensity at each m/z is shared among
// the ions whose own m/z that is, in proportion to their intensities, and
// added to the ions' own (each side over its base peak, with the network's
// share). At an m/z up to the molecule's that no candidate ion reaches, its
// intensity becomes an ion of its own: one hydrogen more or fewer than the
// strongest formula one m/z below or above (then two), when the molecule has
// the hydrogens and the ion keeps zero or more rings plus double bonds, else
// the hydrocarbon of the most carbons the molecule allows; always a
// sub-formula of the molecule, spread over its own cluster, so every peak
// still has its ions and each cluster its exact ratios. The network reads a
// molecule with labelled atoms without its labels, and gives each ion what
// it predicts at the ion's m/z with every label at its element's usual mass.
// In an explanation the network's part of an ion's score is the feature
// kEiNetworkFeature: its value is the network's intensity at the ion's m/z
// (of its base), its contribution the log of the factor it multiplied the
// ion's intensity by; for an ion of the network alone, the ion's whole score.
// A molecule whose m/z range the network's outputs do not cover (its nominal
// mass plus the network's above_mass at or beyond its span) is predicted by
// the ion model alone.
#pragma once

#include <GraphMol/ROMol.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/interrupt.h"
#include "molecule/prepare_molecule.h"
#include "spectra/isotopes.h"

namespace tessarin::prediction {

// A named feature and its value.
using EiFeature = std::pair<std::string, double>;

// One candidate ion: its nominal m/z (labelled atoms at their own mass
// number), its formula ("C7H7"), the formula of the neutral it leaves behind
// ("" for the molecular ion), its hydrogen shift, its features (they may
// repeat a name; their values add up) and its isotope cluster, the share of
// its intensity at each m/z (summing to 1).
struct EiIon {
  int mz = 0;
  std::string formula;
  std::string neutral;
  int hydrogen_shift = 0;
  bool molecular = false;
  std::vector<EiFeature> features;
  std::vector<spectra::IsotopePeak> cluster;
};

// Every candidate ion of a prepared molecule (molecule::prepare) with all its
// features, formula and loss features included whatever the weight table
// holds (the fitting script reads these). Throws InvalidInput for a molecule
// without atoms; `poll` is called all through.
std::vector<EiIon> ei_candidate_ions(const RDKit::ROMol& mol, const molecule::Perception& perception,
                                     const core::InterruptCheck& poll = {});

// The same for a SMILES, prepared here. Throws InvalidInput when it does not
// parse.
std::vector<EiIon> ei_candidate_ions(const std::string& smiles);

// One peak of the EI model, with the formula of every ion at that m/z, the
// strongest contribution first (an m/z reached only as an isotope peak names
// the ions whose clusters reach it, e.g. "CCl3 isotope +2").
struct EiPeak {
  int mz = 0;
  int intensity = 0;  // 1..999
  std::vector<std::string> formulas;
  bool operator==(const EiPeak&) const = default;
};

// The EI spectrum of a prepared molecule, ascending m/z; `poll` is called
// all through.
std::vector<EiPeak> ei_peaks(const RDKit::ROMol& mol, const molecule::Perception& perception,
                             const core::InterruptCheck& poll = {});

// Why the model predicts what it does, for one molecule.
//
// An ion's share of one peak: `ion` indexes EiExplanation::ions,
// `isotope_offset` is 0 at the ion's own m/z and +1, +2, ... at its isotope
// peaks (-1 below it for an element whose lighter isotope is the rarer, as
// boron's), and `share` is the part of the peak's intensity it gives (the
// shares of a peak sum to 1).
struct EiContribution {
  std::size_t ion = 0;
  int isotope_offset = 0;
  double share = 0.0;
};

// A peak of ei_peaks and every ion contributing to it, largest share first.
struct EiExplainedPeak {
  int mz = 0;
  int intensity = 0;
  std::vector<EiContribution> contributions;
};

// A feature's part in an ion's score: weight x value.
struct EiFeatureContribution {
  std::string name;
  double value = 0.0;
  double weight = 0.0;
  double contribution = 0.0;
};

// An ion that reaches a predicted peak: what it is, its score, its share of
// the molecule's ion current, and the weighed features making the score, the
// strongest contribution (by size, either sign) first.
struct EiExplainedIon {
  int mz = 0;
  std::string formula;
  std::string neutral;
  int hydrogen_shift = 0;
  bool molecular = false;
  double score = 0.0;
  double current_share = 0.0;
  std::vector<EiFeatureContribution> features;
};

struct EiExplanation {
  std::vector<EiExplainedPeak> peaks;  // the peaks of ei_peaks, ascending m/z
  std::vector<EiExplainedIon> ions;    // every ion reaching one of them, strongest first
};

// The explanation of the EI spectrum of a prepared molecule; its peaks are
// ei_peaks' to the last unit. `poll` is called all through.
EiExplanation ei_explain(const RDKit::ROMol& mol, const molecule::Perception& perception,
                         const core::InterruptCheck& poll = {});

// The name of the fingerprint network's part of an ion's score.
inline constexpr const char* kEiNetworkFeature = "fingerprint network";

// The comment written into every record of the EI model.
inline constexpr const char* kEiModelComment = "intensities predicted by the EI model (--model ei)";

}  // namespace tessarin::prediction
