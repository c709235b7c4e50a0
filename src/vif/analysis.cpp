#include "vif/analysis.h"

#include <GraphMol/Atom.h>

#include <chrono>
#include <cmath>

#include "core/element_data.h"
#include "core/errors.h"
#include "core/nominal_mass.h"
#include "layout/atom_layout.h"
#include "ms/soft_bonds.h"
#include "vif/bond_orders.h"
#include "vif/prepare_molecule.h"
#include "vif/report.h"

namespace tessarin::vif {
namespace {

// Seconds since the previous lap.
class StepClock {
 public:
  double lap() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    return seconds;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace

void check_orbital_graph_fits(const RDKit::ROMol& mol) {
  long long nodes = 0;
  for (const RDKit::Atom* atom : mol.atoms()) nodes += orbital_node_count(core::period_of(atom->getSymbol()));
  check_dense_matrix_fits(nodes);
}

std::optional<VifAnalysis> analyse_smiles(const std::string& smiles, const VifOptions& options,
                                          std::ostream& report) {
  if (!std::isfinite(options.radius_ratio)) throw InvalidInput("radius_ratio must be a finite number");
  if (!std::isfinite(options.bond_kappa)) throw InvalidInput("bond_kappa must be a finite number");
  VifAnalysis a;
  StepClock clock;
  a.mol = prepare_molecule(smiles);
  if (!a.mol) return std::nullopt;
  RDKit::ROMol& mol = *a.mol;
  check_orbital_graph_fits(mol);
  a.times.preparation = clock.lap();
  const core::InterruptCheck& poll = options.interrupt_check;
  core::poll(poll);

  layout::LayoutParams layout_params;
  layout_params.n_iter = options.n_iter;
  layout_params.target_bond_len = options.target_bond_len;
  layout::LayoutTiming layout_timing;
  a.coords = layout::compute_atom_layout(mol, layout_params, &layout_timing, poll).coords;
  a.times.depiction = layout_timing.depiction;
  a.times.layout = layout_timing.refinement;
  core::poll(poll);
  clock.lap();

  const BondOrders orders = build_bond_orders(mol);
  a.graph = build_vif_graph(mol, a.coords, orders,
                            GraphParams{options.target_bond_len, options.radius_ratio, options.bond_kappa});
  a.times.graph = clock.lap();
  core::poll(poll);
  const WeightedGraph& g = a.graph.orbital.graph;
  std::vector<MatrixEntry> edges;
  edges.reserve(g.edges.size());
  for (const OrbitalEdge& e : g.edges) edges.push_back({e.u, e.v, e.weight});
  a.lpi = lpi_of_undirected_edges(g.node_count, edges, 1e-9);

  for (const RDKit::Atom* atom : mol.atoms()) a.mol_mass_avg += atom->getMass();
  a.mol_mass = core::nominal_mass(mol);
  a.times.lpi = clock.lap();
  if (options.verbose) write_report_block_a(report, smiles, a.mol_mass_avg, a.mol_mass, a.lpi);

  core::poll(poll);
  clock.lap();  // the report is not part of any step
  a.soft_bonds = ms::detect_soft_bonds(g, a.graph.orbital.bonds, a.lpi.counts, 1e-9, ms::CountMethod::automatic, poll);
  a.times.soft_bonds = clock.lap();
  std::vector<ms::SoftBondRef> softs;
  softs.reserve(a.soft_bonds.size());
  for (std::size_t i : a.soft_bonds) {
    const BondRecord& r = a.graph.orbital.bonds[i];
    softs.push_back({r.atom_u, r.atom_v, r.sym_u, r.sym_v, r.order});
  }
  a.fragments = ms::predict_fragments(mol, softs, options.ring_fragmentation, 30.0, poll);
  a.times.fragments = clock.lap();

  std::optional<std::vector<int>> recursive_mz;
  if (options.recursive_ms) {
    ms::RecursiveOptions recursion;
    recursion.max_generations = options.max_generations;
    recursion.min_mz = 25.0;
    recursion.ring_fragmentation = true;
    recursion.tol = 1e-9;
    const ms::MoleculeOrbitals orbitals = ms::molecule_orbitals(a.graph.orbital);
    a.recursive_peaks = ms::predict_fragments_recursive(mol, orbitals, recursion, nullptr, poll);
    recursive_mz.emplace();
    for (const ms::Peak& p : *a.recursive_peaks) recursive_mz->push_back(p.mz);
    a.times.recursion = clock.lap();
  }

  if (options.verbose) {
    write_report_block_b(report, a.soft_bonds.size(), a.fragments, recursive_mz, options.max_generations);
  }
  return a;
}

}  // namespace tessarin::vif
