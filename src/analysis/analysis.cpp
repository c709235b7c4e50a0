#include "analysis/analysis.h"

#include <GraphMol/Atom.h>
#include <GraphMol/Bond.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "analysis/report.h"
#include "core/element_data.h"
#include "core/errors.h"
#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "counts/band_ordering.h"
#include "layout/atom_layout.h"
#include "molecule/prepare_molecule.h"
#include "ms/soft_bonds.h"
#include "vif/bond_orders.h"

namespace tessarin::analysis {
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

std::vector<const ms::FragmentEntry*> entries_where(const std::vector<ms::FragmentEntry>& fragments, bool split,
                                                    ms::CutMode mode) {
  std::vector<const ms::FragmentEntry*> out;
  for (const ms::FragmentEntry& f : fragments) {
    if (f.split == split && (!split || f.mode == mode)) out.push_back(&f);
  }
  return out;
}

// The steps after preparation; `smiles` is what the report names.
Result run(molecule::PreparedMolecule&& prepared, const Options& options, const StopCheck& stop, std::ostream* report,
           const std::string& smiles, StepClock& clock, const layout::Depicter& depict) {
  Result a;
  a.mol = std::move(prepared.mol);
  a.perception = std::move(prepared.perception);
  RDKit::ROMol& mol = *a.mol;
  check_orbital_graph_fits(mol);
  a.times.preparation = clock.lap();

  // The step under way, for the stop check of the long loops inside it.
  const char* step = "the preparation";
  const core::InterruptCheck poll = [&stop, &step] {
    if (stop) stop(step);
  };
  auto begin = [&](const char* next) {
    step = next;
    core::poll(poll);
  };

  begin("the atom layout");
  layout::LayoutParams layout_params;
  layout_params.n_iter = options.n_iter;
  layout_params.target_bond_len = options.target_bond_len;
  layout::LayoutTiming layout_timing;
  a.coords = layout::compute_atom_layout(mol, layout_params, &layout_timing, poll, depict).coords;
  a.times.depiction = layout_timing.depiction;
  a.times.layout = layout_timing.refinement;
  clock.lap();

  begin("the orbital graph");
  const vif::BondOrders orders = vif::build_bond_orders(mol);
  a.graph = vif::build_vif_graph(mol, a.coords, orders,
                                 vif::GraphParams{options.target_bond_len, options.radius_ratio, options.bond_kappa});
  a.times.graph = clock.lap();

  begin("the LPI");
  const core::WeightedGraph& g = a.graph.orbital.graph;
  std::vector<counts::MatrixEntry> edges;
  edges.reserve(g.edges.size());
  for (const core::WeightedEdge& e : g.edges) edges.push_back({e.u, e.v, e.weight});
  a.lpi = counts::lpi_of_undirected_edges(g.node_count, edges, kZeroTolerance);
  for (const RDKit::Atom* atom : mol.atoms()) a.mol_mass_avg += atom->getMass();
  a.mol_mass = core::nominal_mass(mol);
  std::vector<int> all_atoms(mol.getNumAtoms());
  std::iota(all_atoms.begin(), all_atoms.end(), 0);
  a.formula = core::fragment_formula(mol, all_atoms);
  a.times.lpi = clock.lap();
  if (report != nullptr) write_molecule_report(*report, smiles, a);
  clock.lap();  // the report is not part of any step

  begin("the soft-bond search");
  a.soft_bonds = ms::detect_soft_bonds(g, a.graph.orbital.bonds, a.lpi.counts, kZeroTolerance,
                                       counts::CountMethod::automatic, poll);
  a.times.soft_bonds = clock.lap();

  begin("the fragments");
  std::vector<ms::SoftBond> softs;
  softs.reserve(a.soft_bonds.size());
  for (std::size_t i : a.soft_bonds) {
    const vif::BondRecord& r = a.graph.orbital.bonds[i];
    softs.push_back({r.atom_u, r.atom_v, r.sym_u, r.sym_v, r.order});
  }
  a.fragments = ms::predict_fragments(mol, softs, options.ring_fragmentation, kMinRingCutMz, poll);
  a.times.fragments = clock.lap();

  if (options.recursive) {
    begin("the multi-generation fragmentation");
    ms::RecursiveOptions recursion;
    recursion.max_generations = options.max_generations;
    recursion.min_mz = kMinRecursiveRingCutMass;
    recursion.ring_fragmentation = true;
    recursion.tol = kZeroTolerance;
    const ms::MoleculeOrbitals orbitals = ms::molecule_orbitals(a.graph.orbital);
    a.recursive_peaks = ms::predict_fragments_recursive(mol, orbitals, recursion, nullptr, poll);
    a.times.recursion = clock.lap();
  }
  if (report != nullptr) write_fragment_report(*report, a, options.max_generations);
  return a;
}

}  // namespace

std::vector<const ms::FragmentEntry*> Result::single_cuts() const {
  return entries_where(fragments, true, ms::CutMode::single);
}

std::vector<const ms::FragmentEntry*> Result::ring_double_cuts() const {
  return entries_where(fragments, true, ms::CutMode::ring);
}

std::vector<const ms::FragmentEntry*> Result::unsplit_ring_bonds() const {
  return entries_where(fragments, false, ms::CutMode::single);
}

void check_options(const Options& options) {
  if (!std::isfinite(options.radius_ratio)) throw InvalidInput("radius_ratio must be a finite number");
  if (!std::isfinite(options.bond_kappa)) throw InvalidInput("bond_kappa must be a finite number");
}

void check_orbital_graph_fits(const RDKit::ROMol& mol) {
  const unsigned n_atoms = mol.getNumAtoms();
  std::vector<int> node_count(n_atoms);
  long long nodes = 0;
  for (const RDKit::Atom* atom : mol.atoms()) {
    node_count[atom->getIdx()] = vif::orbital_node_count(core::period_of(atom->getSymbol()));
    nodes += node_count[atom->getIdx()];
  }
  if (nodes >= counts::kMinBandNodes && nodes <= std::numeric_limits<int>::max()) {
    // An orbital graph's edges join nodes of one atom or of bonded atoms. With
    // the atoms renumbered to a narrow band and each atom's nodes numbered
    // together, an edge spans at most the nodes of the atoms from one end's
    // atom to the other's: a bound on the bandwidth the LPI will find.
    std::vector<std::pair<int, int>> bonds;
    bonds.reserve(mol.getNumBonds());
    for (const RDKit::Bond* bond : mol.bonds()) {
      bonds.emplace_back(static_cast<int>(bond->getBeginAtomIdx()), static_cast<int>(bond->getEndAtomIdx()));
    }
    const counts::BandOrdering atoms =
        counts::band_ordering(counts::SparsePattern::from_pairs(static_cast<int>(n_atoms), bonds));
    std::vector<long long> first(n_atoms + 1, 0);  // first node of the atom in each place
    for (unsigned k = 0; k < n_atoms; ++k)
      first[k + 1] = first[k] + node_count[static_cast<std::size_t>(atoms.order[k])];
    long long width = 0;
    for (unsigned k = 0; k < n_atoms; ++k) width = std::max(width, first[k + 1] - first[k] - 1);
    for (const auto& [u, v] : bonds) {
      const auto [lo, hi] =
          std::minmax(atoms.position[static_cast<std::size_t>(u)], atoms.position[static_cast<std::size_t>(v)]);
      width = std::max(width, first[static_cast<std::size_t>(hi) + 1] - first[static_cast<std::size_t>(lo)] - 1);
    }
    if (counts::eigen_path(nodes, width) == counts::EigenPath::band) {
      counts::check_band_matrix_fits(nodes, width);
      return;
    }
  }
  counts::check_dense_matrix_fits(nodes);
}

std::optional<Result> analyse_smiles(const std::string& smiles, const Options& options, const StopCheck& stop,
                                     std::ostream* report, const layout::Depicter& depict) {
  check_options(options);
  StepClock clock;
  std::optional<molecule::PreparedMolecule> prepared = molecule::prepare(smiles);
  if (!prepared) return std::nullopt;
  return run(std::move(*prepared), options, stop, report, smiles, clock, depict);
}

Result analyse_prepared(molecule::PreparedMolecule&& prepared, const std::string& smiles, const Options& options,
                        const StopCheck& stop, std::ostream* report, const layout::Depicter& depict) {
  check_options(options);
  if (!prepared.mol) throw InvalidInput("no molecule to analyse");
  StepClock clock;
  return run(std::move(prepared), options, stop, report, smiles, clock, depict);
}

}  // namespace tessarin::analysis
