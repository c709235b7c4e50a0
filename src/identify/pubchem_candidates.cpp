#include "identify/pubchem_candidates.h"

#include "core/errors.h"
#include "identify/molecular_formulas.h"

namespace tessarin::identify {
namespace {

// The formula written C, H, then the other symbols in code-point order, as
// formula_counts reads it (a labelled term such as [13C] sorts with the others).
std::string ordered_formula(const std::string& formula) {
  const std::map<std::string, long long> counts = formula_counts(formula);
  std::string out;
  auto add = [&out](const std::string& symbol, long long n) {
    out += symbol;
    if (n > 1) out += std::to_string(n);
  };
  for (const char* first : {"C", "H"}) {
    if (const auto it = counts.find(first); it != counts.end()) add(it->first, it->second);
  }
  for (const auto& [symbol, n] : counts) {
    if (symbol != "C" && symbol != "H") add(symbol, n);
  }
  return out;
}

}  // namespace

void PubChemQuery::check() const {
  if (max_formulas == 0) throw InvalidInput("max_formulas must be at least 1");
  if (formula) {
    if (ordered_formula(*formula).empty()) throw InvalidInput("the formula '" + *formula + "' holds no atom");
    return;
  }
  if (!nominal_mass) throw InvalidInput("PubChem candidates need a formula or a nominal mass");
  check_formula_request(*nominal_mass, elements);
}

PubChemCandidates pubchem_candidates(const PubChemQuery& query, const pubchem::SearchOptions& options) {
  query.check();
  PubChemCandidates out;
  ParentFilter filter;
  if (query.formula) {
    out.formulas.push_back(ordered_formula(*query.formula));
    filter.formula = out.formulas.front();
  } else {
    FormulaList formulas = formulas_of_nominal_mass(*query.nominal_mass, query.elements, query.max_formulas);
    out.formulas_left_out = formulas.total - formulas.formulas.size();
    out.formulas = std::move(formulas.formulas);
    filter.nominal_mass = query.nominal_mass;
    filter.elements = query.elements.empty() ? candidate_elements() : query.elements;
  }

  pubchem::FormulaSearch search(options);
  std::vector<CandidateRecord> records;
  for (const std::string& formula : out.formulas) {
    pubchem::FormulaHits hits = search.find(formula);
    if (hits.truncated) out.truncated.push_back(formula);
    for (pubchem::PropertyRecord& r : hits.records) {
      records.push_back({std::move(r.smiles), std::move(r.title), r.cid});
    }
  }
  out.candidates = reduce_to_parents(records, filter, out.counts);
  out.requests = search.requests();
  out.cache_hits = search.cache_hits();
  return out;
}

}  // namespace tessarin::identify
