#include "identify/candidates.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/MolStandardize/Charge.h>
#include <GraphMol/MolStandardize/Fragment.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <algorithm>
#include <exception>
#include <map>
#include <memory>

#include "core/errors.h"

namespace tessarin::identify {
namespace {

std::unique_ptr<RDKit::RWMol> parse(const std::string& smiles) {
  if (smiles.empty() || smiles.find('\0') != std::string::npos) return nullptr;
  try {
    return std::unique_ptr<RDKit::RWMol>(RDKit::SmilesToMol(smiles));
  } catch (const std::exception&) {
    return nullptr;  // RDKit's sanitisation failures: a structure no spectrum is predicted for
  }
}

std::string stereo_free_smiles(RDKit::ROMol& mol) {
  RDKit::RWMol copy(mol);
  RDKit::MolOps::removeStereochemistry(copy);
  return RDKit::MolToSmiles(copy);
}

// A lower CID first; records without one last, in their order.
bool earlier(const std::optional<std::int64_t>& a, std::size_t a_at, const std::optional<std::int64_t>& b,
             std::size_t b_at) {
  if (a && b) return *a != *b ? *a < *b : a_at < b_at;
  if (a || b) return a.has_value();
  return a_at < b_at;
}

}  // namespace

std::optional<ParentStructure> parent_structure(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol = parse(smiles);
  if (!mol || mol->getNumAtoms() == 0) return std::nullopt;
  for (const RDKit::Atom* atom : mol->atoms()) {
    if (atom->getAtomicNum() == 0) return std::nullopt;
  }
  ParentStructure parent;
  try {
    RDKit::MolStandardize::LargestFragmentChooser chooser(/*preferOrganic=*/true);
    std::unique_ptr<RDKit::ROMol> largest(chooser.choose(*mol));
    RDKit::MolStandardize::Uncharger uncharger;
    std::unique_ptr<RDKit::ROMol> neutral(uncharger.uncharge(*largest));
    parent.smiles = stereo_free_smiles(*neutral);
    parent.changed = parent.smiles != stereo_free_smiles(*mol);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::optional<Composition> composition = composition_of(parent.smiles);
  if (!composition) return std::nullopt;
  parent.composition = std::move(*composition);
  return parent;
}

bool ParentFilter::keeps(const Composition& c) const {
  if (formula && !same_formula(c.formula, *formula)) return false;
  if (nominal_mass && c.nominal_mass != *nominal_mass) return false;
  if (!elements.empty()) {
    for (const auto& [symbol, n] : formula_counts(c.formula)) {
      if (std::find(elements.begin(), elements.end(), symbol) == elements.end()) return false;
    }
  }
  return true;
}

std::vector<Candidate> reduce_to_parents(const std::vector<CandidateRecord>& records, const ParentFilter& filter,
                                         CandidateCounts& counts) {
  struct Group {
    std::size_t best = 0;  // the record that names the candidate
    bool best_is_parent = false;
    std::vector<std::size_t> members;
    ParentStructure parent;
  };
  std::map<std::string, Group> groups;
  std::vector<bool> changed(records.size(), false);
  counts.found += records.size();
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::optional<ParentStructure> parent = parent_structure(records[i].smiles);
    if (!parent) {
      ++counts.unparsable;
      continue;
    }
    if (!filter.keeps(parent->composition)) {
      ++counts.other_formula;
      continue;
    }
    changed[i] = parent->changed;
    auto [it, fresh] = groups.try_emplace(parent->smiles);
    Group& g = it->second;
    g.members.push_back(i);
    const bool is_parent = !parent->changed;
    if (fresh) {
      g.best = i;
      g.best_is_parent = is_parent;
      g.parent = std::move(*parent);
    } else if ((is_parent && !g.best_is_parent) ||
               (is_parent == g.best_is_parent && earlier(records[i].cid, i, records[g.best].cid, g.best))) {
      g.best = i;
      g.best_is_parent = is_parent;
    }
  }

  std::vector<std::pair<std::size_t, Candidate>> kept;
  for (auto& [key, g] : groups) {
    for (const std::size_t i : g.members) {
      if (i == g.best) continue;
      ++(changed[i] ? counts.salts : counts.duplicates);
    }
    const CandidateRecord& r = records[g.best];
    Candidate c;
    c.smiles = key;
    c.name = r.name;
    c.cid = r.cid;
    c.formula = g.parent.composition.formula;
    c.nominal_mass = g.parent.composition.nominal_mass;
    kept.emplace_back(g.best, std::move(c));
  }
  std::sort(kept.begin(), kept.end(),
            [](const auto& a, const auto& b) { return earlier(a.second.cid, a.first, b.second.cid, b.first); });
  std::vector<Candidate> out;
  out.reserve(kept.size());
  for (auto& [at, c] : kept) out.push_back(std::move(c));
  counts.kept += out.size();
  return out;
}

MoleculeSource candidate_source(const std::vector<Candidate>& candidates) {
  auto next = std::make_shared<std::size_t>(0);
  return [&candidates, next](run::MoleculeInput& m) {
    if (*next >= candidates.size()) return false;
    const Candidate& c = candidates[(*next)++];
    m = run::MoleculeInput{};
    m.line = c.line > 0 ? c.line : *next;
    m.name = !c.name.empty() ? c.name : c.cid ? "CID " + std::to_string(*c.cid) : std::string();
    m.smiles = c.smiles;
    m.id = !c.id.empty() ? c.id : c.cid ? std::to_string(*c.cid) : std::string();
    return true;
  };
}

}  // namespace tessarin::identify
