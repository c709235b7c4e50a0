// The analysis of one molecule, from the prepared molecule to the predicted
// fragments: the one pipeline behind the report, the Python result and the
// library records.
//
//   prepare ─▶ layout ─▶ orbital graph ─▶ LPI ─▶ soft bonds ─▶ fragments
//                                           │                  (─▶ further generations)
//                                    molecule report             fragment report
#pragma once

#include <GraphMol/ROMol.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "counts/lpi.h"
#include "layout/atom_layout.h"
#include "layout/point2.h"
#include "molecule/prepare_molecule.h"
#include "ms/fragments.h"
#include "ms/recursive_fragments.h"
#include "vif/orbital_graph_builder.h"

namespace tessarin::analysis {

// Fixed settings of the prediction.
inline constexpr double kZeroTolerance = 1e-9;            // an eigenvalue within this of 0 counts as zero
inline constexpr double kMinRingCutMz = 30.0;             // ring double cuts with a lighter piece are dropped (m/z)
inline constexpr double kMinRecursiveRingCutMass = 25.0;  // the same in later generations (average mass)

struct Options {
  int n_iter = 600;                 // layout iterations
  double target_bond_len = 1.5;     // layout bond length; also scales the orbital-node radius
  double radius_ratio = 0.23;       // orbital-node radius / target_bond_len
  double bond_kappa = 0.9;          // weight of every bond edge
  bool ring_fragmentation = false;  // also cut pairs of soft ring bonds
  bool recursive = false;           // also cut the pieces again, generation by generation
  int max_generations = 2;          // generations of the recursive cuts
};

// A caller's way to stop an analysis. It is called between the steps and all
// through the long ones with the name of the step under way ("the atom
// layout"); it returns to let the work go on, or throws to abandon it (a time
// limit, Ctrl-C). Only RDKit's depiction and an eigenvalue solve run without it.
using StopCheck = std::function<void(std::string_view step)>;

// Seconds spent in each step, for benchmarks.
struct StepTimes {
  double preparation = 0.0;  // parsing, aromaticity, kekulization, hydrogens
  double depiction = 0.0;    // RDKit's 2D depiction
  double layout = 0.0;       // relaxation, alignment, mirror passes
  double graph = 0.0;        // orbital nodes, placement, bond edges
  double lpi = 0.0;          // eigenvalues of the whole graph, masses
  double soft_bonds = 0.0;
  double fragments = 0.0;
  double recursion = 0.0;  // further generations of cuts
};

struct Result {
  std::unique_ptr<RDKit::ROMol> mol;   // prepared: explicit hydrogens, 2D conformer
  molecule::Perception perception;     // what the preparation perceived (aromaticity, rings)
  std::vector<layout::Point2> coords;  // atom centres
  vif::VifGraph graph;
  counts::Lpi lpi;
  double mol_mass_avg = 0.0;            // sum of average atomic masses
  int mol_mass = 0;                     // nominal mass of the molecular ion
  std::string formula;                  // of the whole molecule, hydrogens included
  std::vector<std::size_t> soft_bonds;  // positions in graph.orbital.bonds, ascending
  std::vector<ms::FragmentEntry> fragments;
  // With Options::recursive: the first piece of every m/z reached in
  // max_generations generations of cuts (ring double cuts always on, whatever
  // Options::ring_fragmentation says), the molecular ion first.
  std::optional<std::vector<ms::GenerationPeak>> recursive_peaks;
  StepTimes times;

  // The fragment entries by kind, each in fragment order.
  std::vector<const ms::FragmentEntry*> single_cuts() const;         // split by one cut
  std::vector<const ms::FragmentEntry*> ring_double_cuts() const;    // split by two ring bonds
  std::vector<const ms::FragmentEntry*> unsplit_ring_bonds() const;  // soft ring bonds that do not split alone
  const vif::BondRecord& soft_bond(std::size_t i) const { return graph.orbital.bonds[soft_bonds[i]]; }
};

// The text given in place of a result when the SMILES does not parse.
inline constexpr const char* kUnreadableSmiles = "SMILES okunamad\u0131!";

// Throws InvalidInput naming the option for a non-finite length, radius or
// weight, or a negative iteration count.
void check_options(const Options& options);

// Throws InsufficientMemory, before any work on the molecule, when the
// matrix of the LPI of the prepared `mol`'s orbital graph would not fit in
// memory: band storage when a bound on the graph's bandwidth (from the atoms
// renumbered by counts::band_ordering) sends it to the band path, the dense
// matrix otherwise; InvalidInput for an atom whose element has no period.
void check_orbital_graph_fits(const RDKit::ROMol& mol);

// The analysis of a SMILES string, nothing when it does not parse. (A molecule
// read elsewhere, an SDF record or a caller's RDKit molecule, is analysed as
// its canonical SMILES, so that its result is the one its SMILES gives.) With a
// `report` stream, the molecule's lines are written as soon as its LPI is
// known and the fragment lines at the end, so a later failure still leaves
// the first ones. `depict`, when given, makes the 2D depiction in place of
// layout::depict_2d (and must give what it gives).
std::optional<Result> analyse_smiles(const std::string& smiles, const Options& options, const StopCheck& stop = {},
                                     std::ostream* report = nullptr, const layout::Depicter& depict = {});

// The same for a molecule molecule::prepare made of `smiles` (which the
// report names); the result holds the molecule and its perception.
Result analyse_prepared(molecule::PreparedMolecule&& prepared, const std::string& smiles, const Options& options,
                        const StopCheck& stop = {}, std::ostream* report = nullptr,
                        const layout::Depicter& depict = {});

}  // namespace tessarin::analysis
