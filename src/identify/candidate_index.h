// A large file of structures (SMILES, SDF, CSV or TSV, any of them gzip-
// compressed) as a candidate source: read once into an index by nominal
// mass and formula, so that each spectrum's candidates cost a look-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "identify/candidates.h"
#include "identify/rank.h"

namespace tessarin::identify {

// The file an index of `path` is saved to: beside it, path + ".tessarin-index".
std::string saved_index_path(const std::string& path);

class CandidateIndex {
 public:
  // Reads every molecule of `path` (as run::MoleculeFile reads it) and
  // notes its formula and nominal mass (composition_of: the molecule the
  // analysis sees). Molecules that do not parse are listed in failed().
  // With `use_saved`, the index saved beside the file is read instead when it
  // was made from this very file: the same path, size and modification time
  // (anything else, or a saved index that cannot be read, and the file is
  // read again); an index read from the file is then saved there, written to
  // a temporary name and renamed, unless the directory cannot be written to
  // or the file changed while it was read. `keep_going` is asked every few
  // hundred molecules; false stops with IndexingStopped. Throws what
  // MoleculeFile and its reader throw (UnusableInput, InvalidInput for a
  // table without a SMILES column).
  explicit CandidateIndex(const std::string& path, bool use_saved = false,
                          const std::function<bool()>& keep_going = {});

  // The molecules of this nominal mass and/or formula (element counts
  // compared), in file order: the molecules rank_candidates keeps with the
  // same filter (a molecule with a dummy atom, whose formula no search can
  // name, is found by its mass only). Throws InvalidInput for neither, or a
  // formula formula_counts cannot read.
  std::vector<Candidate> find(std::optional<int> nominal_mass, const std::optional<std::string>& formula) const;

  std::size_t size() const { return entries_.size(); }  // molecules indexed
  const std::vector<FailedMolecule>& failed() const { return failed_; }
  bool from_saved() const { return from_saved_; }  // read from the saved index
  bool saved() const { return saved_; }            // written to the saved index by this one
  const std::string& path() const { return path_; }

 private:
  void read_file(const std::function<bool()>& keep_going);
  bool load_saved(const std::string& identity);
  bool save(const std::string& identity) const;
  void add(Candidate c);

  std::string path_;
  std::vector<Candidate> entries_;
  std::vector<FailedMolecule> failed_;
  std::unordered_map<int, std::vector<std::uint32_t>> by_mass_;
  std::map<std::map<std::string, long long>, std::vector<std::uint32_t>> by_formula_;
  bool from_saved_ = false;
  bool saved_ = false;
};

// Thrown when the caller's keep_going stopped the indexing.
class IndexingStopped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tessarin::identify
