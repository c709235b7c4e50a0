// Candidate structures for an unknown spectrum, from PubChem or from a local
// file: the records, what became of the rest, and the parent structure that
// salts and stereoisomers of one compound share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identify/predict_many.h"
#include "identify/structure.h"

namespace tessarin::identify {

struct Candidate {
  std::string smiles;
  std::string name;
  std::string formula;  // as composition_of writes it
  int nominal_mass = 0;
  std::optional<std::int64_t> cid;  // PubChem's compound id
  std::size_t line = 0;             // where a file holds it (1-based); 0 for PubChem
  std::string id;                   // the file's identifier of the molecule, when it gives one
};

// What became of the records a source gave. found = kept + the dropped ones.
struct CandidateCounts {
  std::size_t found = 0;
  std::size_t kept = 0;
  std::size_t duplicates = 0;     // another record of a kept structure: a stereoisomer, the same drawn twice
  std::size_t salts = 0;          // a salt, hydrate or charged form of a kept structure
  std::size_t unparsable = 0;     // no SMILES, or one that does not parse
  std::size_t other_formula = 0;  // its parent structure has another formula than the one asked for
};

// The structure a mass spectrum sees of a record: its largest fragment
// (organic ones first: counter-ions, water and solvents of crystallisation
// go), charges neutralised where a hydrogen can be added or taken
// (carboxylates, ammonium ions; nitro groups and quaternary nitrogens stay),
// stereochemistry dropped. `smiles` is RDKit's canonical SMILES of it, the
// key two records of one compound share; `changed` says whether anything but
// stereochemistry was taken off. Nothing when the SMILES does not parse or
// holds a dummy atom (the open ends of a polymer's repeating unit).
struct ParentStructure {
  std::string smiles;
  Composition composition;
  bool changed = false;
};
std::optional<ParentStructure> parent_structure(const std::string& smiles);

// A record as a source gives it, before it is reduced to its parent.
struct CandidateRecord {
  std::string smiles;
  std::string name;
  std::optional<std::int64_t> cid;
};

// Which parents are wanted: of this formula, or of this nominal mass made of
// these elements (empty: any).
struct ParentFilter {
  std::optional<std::string> formula;
  std::optional<int> nominal_mass;
  std::vector<std::string> elements;
  bool keeps(const Composition& c) const;
};

// One candidate per parent structure, in ascending CID (records without one
// after, in their order): of the records sharing a parent, the one that is
// the parent itself with the lowest CID gives the CID and the name, else the
// lowest CID of them. The SMILES is the parent's. `counts` says what became
// of the others; it is added to, so several batches of records can be
// counted together when they are reduced at once.
std::vector<Candidate> reduce_to_parents(const std::vector<CandidateRecord>& records, const ParentFilter& filter,
                                         CandidateCounts& counts);

// The candidates one by one, for rank_candidates: the name (else "CID <n>"),
// the SMILES, the file line (else the 1-based place in the list) and the id
// (else the CID). `candidates` must outlive the source.
MoleculeSource candidate_source(const std::vector<Candidate>& candidates);

}  // namespace tessarin::identify
