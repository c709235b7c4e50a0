#include "batch/spectrum.h"

#include <GraphMol/Atom.h>

#include <map>
#include <mutex>
#include <numeric>
#include <stdexcept>

#include "core/fragment_formula.h"
#include "core/nominal_mass.h"
#include "layout/atom_layout.h"
#include "ms/soft_bonds.h"
#include "vif/bond_orders.h"
#include "vif/orbital_graph_builder.h"
#include "vif/prepare_molecule.h"

namespace tessarin::batch {

std::vector<Peak> spectrum_peaks(int mol_mass, const std::string& molecular_formula,
                                 std::span<const ms::FragmentEntry> fragments,
                                 const std::optional<std::vector<GenerationPeak>>& recursive_peaks) {
  std::map<int, Peak> by_mz;
  by_mz.emplace(mol_mass, Peak{mol_mass, kMolecularIonIntensity, molecular_formula});
  for (const ms::FragmentEntry& entry : fragments) {
    if (!entry.split || !entry.fragments) continue;
    for (const ms::FragmentTuple& t : *entry.fragments) by_mz.try_emplace(t.mz, Peak{t.mz, kFragmentIntensity, t.formula});
  }
  if (recursive_peaks) {
    for (const GenerationPeak& p : *recursive_peaks) by_mz.try_emplace(p.mz, Peak{p.mz, kFragmentIntensity, p.formula});
  }
  std::vector<Peak> out;
  out.reserve(by_mz.size());
  for (auto& [mz, peak] : by_mz) out.push_back(std::move(peak));
  return out;
}

vif::VifAnalysis analyse_with_deadline(const std::string& smiles, const SpectrumOptions& options,
                                       const Deadline& deadline) {
  // The steps of vif::analyse_smiles with its default parameters, without
  // the report; a test keeps the two in agreement.
  const vif::VifOptions defaults;
  deadline.check("start");
  vif::VifAnalysis a;
  a.mol = vif::prepare_molecule(smiles);
  if (!a.mol) throw UnreadableSmiles();
  RDKit::ROMol& mol = *a.mol;
  vif::check_orbital_graph_fits(mol);
  deadline.check("parsing");

  layout::LayoutParams layout_params;
  layout_params.n_iter = defaults.n_iter;
  layout_params.target_bond_len = defaults.target_bond_len;
  a.coords = layout::compute_atom_layout(mol, layout_params).coords;
  deadline.check("the atom layout");

  const vif::BondOrders orders = vif::build_bond_orders(mol);
  a.graph = vif::build_vif_graph(
      mol, a.coords, orders, vif::GraphParams{defaults.target_bond_len, defaults.radius_ratio, defaults.bond_kappa});
  const vif::WeightedGraph& g = a.graph.orbital.graph;
  std::vector<vif::MatrixEntry> edges;
  edges.reserve(g.edges.size());
  for (const vif::OrbitalEdge& e : g.edges) edges.push_back({e.u, e.v, e.weight});
  a.lpi = vif::lpi_of_undirected_edges(g.node_count, edges, 1e-9);
  for (const RDKit::Atom* atom : mol.atoms()) a.mol_mass_avg += atom->getMass();
  a.mol_mass = core::nominal_mass(mol);
  deadline.check("the orbital graph");

  a.soft_bonds = ms::detect_soft_bonds(g, a.graph.orbital.bonds, a.lpi.counts, 1e-9);
  deadline.check("the soft-bond search");
  std::vector<ms::SoftBondRef> softs;
  softs.reserve(a.soft_bonds.size());
  for (std::size_t i : a.soft_bonds) {
    const vif::BondRecord& r = a.graph.orbital.bonds[i];
    softs.push_back({r.atom_u, r.atom_v, r.sym_u, r.sym_v, r.order});
  }
  a.fragments = ms::predict_fragments(mol, softs, options.ring_fragmentation, 30.0);
  deadline.check("the fragments");

  if (options.recursive) {
    ms::RecursiveOptions recursion;
    recursion.max_generations = options.max_generations;
    recursion.min_mz = 25.0;
    recursion.ring_fragmentation = true;  // always, whatever options.ring_fragmentation says
    recursion.tol = 1e-9;
    const ms::MoleculeOrbitals orbitals = ms::molecule_orbitals(a.graph.orbital);
    a.recursive_peaks = ms::predict_fragments_recursive(
        mol, orbitals, recursion, nullptr, [&deadline] { deadline.check("a multi-generation expansion"); });
  }
  return a;
}

SpectrumRecord predict_spectrum(std::size_t line, const std::string& name, const std::string& smiles, const SpectrumOptions& options,
                                const Deadline& deadline) {
  vif::VifAnalysis a = analyse_with_deadline(smiles, options, deadline);
  SpectrumRecord r;
  r.line = line;
  r.name = name;
  r.smiles = smiles;
  std::vector<int> all_atoms(a.mol->getNumAtoms());
  std::iota(all_atoms.begin(), all_atoms.end(), 0);
  r.formula = core::fragment_formula(*a.mol, all_atoms);
  r.mol_mass = a.mol_mass;
  r.mol_mass_avg = a.mol_mass_avg;
  r.lpi = std::move(a.lpi);
  for (std::size_t i : a.soft_bonds) r.soft_bonds.push_back(a.graph.orbital.bonds[i]);
  r.fragments = std::move(a.fragments);
  r.recursive_peaks = std::move(a.recursive_peaks);
  r.peaks = spectrum_peaks(r.mol_mass, r.formula, r.fragments, r.recursive_peaks);
  return r;
}

void warm_up() {
  static std::once_flag once;
  std::call_once(once, [] { (void)predict_spectrum(0, "", "OC(=O)c1ccccc1C1CC1", SpectrumOptions{}, Deadline{}); });
}

nlohmann::ordered_json record_json(const SpectrumRecord& r) {
  using json = nlohmann::ordered_json;
  json soft = json::array();
  for (const vif::BondRecord& b : r.soft_bonds) {
    soft.push_back({{"u_node", b.u_node}, {"v_node", b.v_node}, {"atom_u", b.atom_u}, {"atom_v", b.atom_v},
                    {"sym_u", b.sym_u}, {"sym_v", b.sym_v}, {"order", b.order}, {"k", b.k}});
  }
  json fragments = json::array();
  for (const ms::FragmentEntry& f : r.fragments) {
    json pieces = nullptr;
    if (f.fragments) {
      pieces = json::array();
      for (const ms::FragmentTuple& t : *f.fragments) pieces.push_back(json::array({t.formula, t.average_mass, t.mz}));
    }
    fragments.push_back({{"bond", f.bond}, {"split", f.split}, {"mode", f.mode}, {"fragments", pieces}});
  }
  json recursive = nullptr;
  if (r.recursive_peaks) {
    recursive = json::array();
    for (const GenerationPeak& p : *r.recursive_peaks) {
      recursive.push_back({{"mz", p.mz}, {"formula", p.formula}, {"generation", p.generation}});
    }
  }
  json peaks = json::array();
  for (const Peak& p : r.peaks) peaks.push_back({{"mz", p.mz}, {"intensity", p.intensity}, {"formula", p.formula}});

  return json{{"line", r.line},
              {"name", r.name},
              {"smiles", r.smiles},
              {"formula", r.formula},
              {"mol_mass", r.mol_mass},
              {"mol_mass_avg", r.mol_mass_avg},
              {"lpi",
               {{"n+", r.lpi.counts.n_plus},
                {"n0", r.lpi.counts.n_zero},
                {"n-", r.lpi.counts.n_minus},
                {"eigenvalues", r.lpi.eigenvalues}}},
              {"soft_bonds", soft},
              {"fragments", fragments},
              {"recursive_peaks", recursive},
              {"peaks", peaks}};
}

}  // namespace tessarin::batch
