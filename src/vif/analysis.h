// One VIF analysis of a SMILES string, from parsing to the report.
#pragma once

#include <GraphMol/ROMol.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/interrupt.h"
#include "layout/point2.h"
#include "ms/fragments.h"
#include "ms/recursive_fragments.h"
#include "vif/lpi.h"
#include "vif/orbital_graph_builder.h"

namespace tessarin::vif {

struct VifOptions {
  int n_iter = 600;
  double target_bond_len = 1.5;
  double radius_ratio = 0.23;
  double bond_kappa = 0.9;
  bool verbose = true;
  bool ring_fragmentation = false;
  bool recursive_ms = false;
  int max_generations = 2;
  // Called between the steps of the analysis and within every long one (the
  // layout iterations, each candidate soft bond, each cut, each expansion of
  // the multi-generation fragmentation); may throw to abandon the analysis
  // (the Python host stops on Ctrl-C this way). Only RDKit's depiction and
  // the eigenvalue solve run without it.
  core::InterruptCheck interrupt_check;
};

// Seconds spent in each step of one analysis, for benchmarks.
struct StepTimes {
  double preparation = 0.0;  // parsing, aromaticity, kekulization, hydrogens
  double depiction = 0.0;    // RDKit's 2D depiction
  double layout = 0.0;       // relaxation, alignment, mirror passes
  double graph = 0.0;        // orbital nodes, placement, bond edges
  double lpi = 0.0;          // eigenvalues of the whole graph, masses
  double soft_bonds = 0.0;
  double fragments = 0.0;
  double recursion = 0.0;    // multi-generation fragmentation
};

struct VifAnalysis {
  std::unique_ptr<RDKit::ROMol> mol;         // prepared: explicit hydrogens, 2D conformer
  std::vector<layout::Point2> coords;        // atom centres
  VifGraph graph;
  Lpi lpi;
  double mol_mass_avg = 0.0;
  int mol_mass = 0;
  std::vector<std::size_t> soft_bonds;       // indices into graph.orbital.bonds
  std::vector<ms::FragmentEntry> fragments;
  // Multi-generation peaks, only when options.recursive_ms (ring double cuts
  // always on, whatever options.ring_fragmentation says; min_mz 25): one ms::Peak
  // {mz, formula, generation} per nominal m/z, in discovery order with the
  // molecular ion first; each mz appears once. Sort the mz values for a
  // peak list. Empty optional when recursive_ms is false.
  std::optional<ms::PeakMap> recursive_peaks;
  StepTimes times;
};

// The text returned in place of a result when the SMILES does not parse.
inline constexpr const char* kUnreadableSmiles = "SMILES okunamad\u0131!";

// Throws InsufficientMemory, before any work on the molecule, when the
// orbital graph of the prepared `mol` would have too many nodes for the dense
// matrix of its LPI (check_dense_matrix_fits); InvalidInput for an atom whose
// element has no period.
void check_orbital_graph_fits(const RDKit::ROMol& mol);

// Runs the analysis, writing the report to `report` when options.verbose.
// Returns nothing (and writes nothing) when the SMILES cannot be read.
std::optional<VifAnalysis> analyse_smiles(const std::string& smiles, const VifOptions& options,
                                          std::ostream& report);

}  // namespace tessarin::vif
