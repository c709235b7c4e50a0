#include "batch/record.h"

#include "core/errors.h"
#include "prediction/ei_model.h"

namespace tessarin::batch {

SpectrumRecord make_record(std::size_t line, std::string name, std::string smiles, prediction::Prediction&& p) {
  if (!p.analysis) throw InvalidInput("a library record needs the molecule's analysis");
  analysis::Result& a = *p.analysis;
  SpectrumRecord r;
  r.line = line;
  r.name = std::move(name);
  r.smiles = std::move(smiles);
  r.formula = std::move(a.formula);
  r.mol_mass = a.mol_mass;
  r.mol_mass_avg = a.mol_mass_avg;
  r.lpi = std::move(a.lpi);
  for (std::size_t i : a.soft_bonds) r.soft_bonds.push_back(a.graph.orbital.bonds[i]);
  r.fragments = std::move(a.fragments);
  r.recursive_peaks = std::move(a.recursive_peaks);
  r.model = p.model;
  r.peaks = std::move(p.peaks);
  return r;
}

void note_options(SpectrumRecord& r, const analysis::Options& options) {
  r.ring_cuts = options.ring_fragmentation;
  r.generations = options.recursive ? std::optional(options.max_generations) : std::nullopt;
}

std::string options_text(const SpectrumRecord& r) {
  std::string out;
  if (r.ring_cuts) out += "--ring";
  if (r.generations) {
    if (!out.empty()) out += ' ';
    out += "--recursive --max-generations " + std::to_string(*r.generations);
  }
  return out;
}

nlohmann::ordered_json record_json(const SpectrumRecord& r) {
  using json = nlohmann::ordered_json;
  json soft = json::array();
  for (const vif::BondRecord& b : r.soft_bonds) {
    soft.push_back({{"u_node", b.u_node},
                    {"v_node", b.v_node},
                    {"atom_u", b.atom_u},
                    {"atom_v", b.atom_v},
                    {"sym_u", b.sym_u},
                    {"sym_v", b.sym_v},
                    {"order", b.order},
                    {"k", b.k}});
  }
  json fragments = json::array();
  for (const ms::FragmentEntry& f : r.fragments) {
    json pieces = nullptr;
    if (f.fragments) {
      pieces = json::array();
      for (const ms::FragmentTuple& t : *f.fragments) pieces.push_back(json::array({t.formula, t.average_mass, t.mz}));
    }
    fragments.push_back(
        {{"bond", f.bond}, {"split", f.split}, {"mode", ms::cut_mode_name(f.mode)}, {"fragments", pieces}});
  }
  json recursive = nullptr;
  if (r.recursive_peaks) {
    recursive = json::array();
    for (const ms::GenerationPeak& p : *r.recursive_peaks) {
      recursive.push_back({{"mz", p.mz}, {"formula", p.formula}, {"generation", p.generation}});
    }
  }
  json peaks = json::array();
  for (const prediction::Peak& p : r.peaks) {
    if (r.model == prediction::Model::schematic) {
      peaks.push_back({{"mz", p.mz}, {"intensity", p.intensity}, {"formula", p.formula}});
    } else {
      peaks.push_back({{"mz", p.mz}, {"intensity", p.intensity}, {"formula", p.formulas}});
    }
  }

  json out{{"line", r.line}, {"name", r.name}};
  if (!r.cas.empty()) out["casno"] = r.cas;
  if (!r.id.empty()) out["id"] = r.id;
  out["smiles"] = r.smiles;
  out["formula"] = r.formula;
  out["mol_mass"] = r.mol_mass;
  out["mol_mass_avg"] = r.mol_mass_avg;
  out["lpi"] = {{"n+", r.lpi.counts.n_plus},
                {"n0", r.lpi.counts.n_zero},
                {"n-", r.lpi.counts.n_minus},
                {"eigenvalues", r.lpi.eigenvalues}};
  out["soft_bonds"] = soft;
  out["fragments"] = fragments;
  out["recursive_peaks"] = recursive;
  out["peaks"] = peaks;
  if (r.ring_cuts || r.generations) {
    json options = json::object();
    if (r.ring_cuts) options["ring"] = true;
    if (r.generations) {
      options["recursive"] = true;
      options["max_generations"] = *r.generations;
    }
    out["options"] = options;
  }
  if (r.model != prediction::Model::schematic) out["comments"] = prediction::kEiModelComment;
  return out;
}

}  // namespace tessarin::batch
