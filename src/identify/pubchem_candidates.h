// Candidate structures from PubChem: the compounds of a molecular formula, or
// of every formula a nominal mass allows, reduced to one parent structure
// each.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "identify/candidates.h"
#include "pubchem/formula_search.h"

namespace tessarin::identify {

struct PubChemQuery {
  std::optional<std::string> formula;  // this formula (given: the mass is not used)
  std::optional<int> nominal_mass;     // else every formula of this nominal mass (formulas_of_nominal_mass)
  std::vector<std::string> elements;   // the elements those formulas may hold; empty: candidate_elements()
  std::size_t max_formulas = 100;      // the most plausible formulas searched; the rest are left out and counted

  // Throws InvalidInput for a query with neither formula nor mass, a formula
  // that formula_counts cannot read, a mass or elements formulas_of_nominal_mass
  // refuses, or max_formulas 0.
  void check() const;
};

struct PubChemCandidates {
  std::vector<Candidate> candidates;   // one per parent structure, ascending CID
  CandidateCounts counts;              // of the records of every formula searched, together
  std::vector<std::string> formulas;   // searched, in that order
  std::size_t formulas_left_out = 0;   // enumerated for the mass beyond max_formulas
  std::vector<std::string> truncated;  // formulas whose reply held max_records records: there may be more
  std::size_t requests = 0;            // sent to the service
  std::size_t cache_hits = 0;          // formulas answered from the cache
};

// Searches PubChem (through pubchem::FormulaSearch with `options`) for each
// formula of the query and reduces the compounds found to their parent
// structures, keeping those of the formula asked for (of a mass: of that
// mass, within the elements). The formula is sent as formula_counts reads
// it, in core::fragment_formula's order. Throws what check() and
// FormulaSearch::find throw; nothing is returned for a search stopped
// half-way.
PubChemCandidates pubchem_candidates(const PubChemQuery& query, const pubchem::SearchOptions& options);

}  // namespace tessarin::identify
