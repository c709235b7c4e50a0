// Reading molecules for batch prediction: SMILES files (one molecule a line,
// the SMILES then an optional name, as RDKit writes .smi files) and SDF files.
#pragma once

#include <cstddef>
#include <deque>
#include <istream>
#include <string>
#include <string_view>

namespace tessarin::batch {

enum class InputFormat { smiles, sdf };

struct MoleculeInput {
  std::size_t line = 0;  // first line of the molecule in its source, 1-based
  std::string name;      // may be empty
  std::string smiles;    // for an SDF record: empty until resolve_sdf_record
  std::string molblock;  // the SDF record, when read from an SDF file
};

// "sdf" for .sdf, .sd and .mol files (any case), "smiles" otherwise.
InputFormat input_format_of_path(std::string_view path);

// Reads one molecule at a time. SMILES files: blank lines and lines starting
// with '#' are skipped, and so is a first line whose first column is "SMILES"
// (any case), the header RDKit's writer puts there; the name is the second
// whitespace-separated column. SDF files: records end at a "$$$$" line; a
// last record without one still counts when it holds anything.
class MoleculeReader {
 public:
  MoleculeReader(std::istream& in, InputFormat format) : in_(in), format_(format) {}

  // Like the above, guessing the format from the first lines: an SDF has the
  // counts line ("V2000" or "V3000") as its fourth line.
  static InputFormat sniff_format(std::istream& in, std::deque<std::string>& lookahead);
  MoleculeReader(std::istream& in, InputFormat format, std::deque<std::string> lookahead)
      : in_(in), format_(format), lookahead_(std::move(lookahead)) {}

  // False at the end of the input. Throws std::runtime_error when reading fails.
  bool next(MoleculeInput& out);

  InputFormat format() const { return format_; }

 private:
  bool read_line(std::string& line);
  bool next_smiles(MoleculeInput& out);
  bool next_sdf(MoleculeInput& out);

  std::istream& in_;
  InputFormat format_;
  std::deque<std::string> lookahead_;
  std::size_t line_no_ = 0;
  bool seen_content_ = false;
};

// Fills `smiles` (RDKit's canonical SMILES of the sanitised record) and, when
// empty, `name` (the record's title line). Throws InvalidInput when the
// record does not parse.
void resolve_sdf_record(MoleculeInput& input);

}  // namespace tessarin::batch
