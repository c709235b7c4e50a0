// Reading molecules for batch prediction: SMILES files (one molecule a line,
// the SMILES then an optional name, as RDKit writes .smi files), SDF files,
// and CSV or tab-separated tables with a SMILES column.
#pragma once

#include <cstddef>
#include <deque>
#include <fstream>
#include <memory>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::batch {

enum class InputFormat { smiles, sdf, csv, tsv };

struct MoleculeInput {
  std::size_t line = 0;  // first line of the molecule in its source, 1-based
  std::string name;      // may be empty
  std::string smiles;    // for an SDF record: empty until resolve_sdf_record
  std::string molblock;  // the SDF record, when read from an SDF file
};

// "sdf" for .sdf, .sd and .mol files, "csv" for .csv, "tsv" for .tsv and
// .tab (any case), "smiles" otherwise.
InputFormat input_format_of_path(std::string_view path);

// Reads one molecule at a time. SMILES files: blank lines and lines starting
// with '#' are skipped, and so is a first line whose first column is "SMILES"
// (any case), the header RDKit's writer puts there; the name is the second
// whitespace-separated column. SDF files: records end at a "$$$$" line; a
// last record without one still counts when it holds anything. Tables: the
// first line that is not blank is the header; the SMILES column is the one
// headed "smiles" (any case, surrounding blanks ignored), else the first
// whose heading ends in "smiles" (canonical_smiles, "Isomeric SMILES"); the
// name column is the one headed "name", else the first whose heading holds
// "name", else one headed "id", "title" or "identifier". CSV fields may be
// quoted ("a ""quoted"" field", line breaks included); tab-separated fields
// are taken as they are. Blank lines are skipped; a row without a SMILES
// field gives an empty SMILES, which the analysis refuses. A header without
// a SMILES column throws InvalidInput.
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
  bool next_table(MoleculeInput& out);
  // The fields of the next row that is not blank, and the line it starts
  // on; false at the end.
  bool read_row(std::vector<std::string>& fields, std::size_t& first_line);

  std::istream& in_;
  InputFormat format_;
  std::deque<std::string> lookahead_;
  std::size_t line_no_ = 0;
  bool seen_content_ = false;
  // Tables: the columns found in the header (npos: none).
  std::size_t smiles_column_ = std::string::npos;
  std::size_t name_column_ = std::string::npos;
};

// A molecule file opened for reading: "-" is standard input (SDF or SMILES,
// told by its first lines), any other path a file whose extension gives the
// format (input_format_of_path).
class MoleculeFile {
 public:
  // Throws InvalidInput naming the path and the system's reason when the
  // file cannot be opened.
  explicit MoleculeFile(const std::string& path);
  MoleculeFile(const MoleculeFile&) = delete;
  MoleculeFile& operator=(const MoleculeFile&) = delete;

  // See MoleculeReader::next.
  bool next(MoleculeInput& out) { return reader_->next(out); }
  InputFormat format() const { return reader_->format(); }

 private:
  std::ifstream file_;
  std::unique_ptr<MoleculeReader> reader_;
};

// Fills `smiles` (RDKit's canonical SMILES of the sanitised record) and, when
// empty, `name` (the record's title line). Throws InvalidInput when the
// record does not parse.
void resolve_sdf_record(MoleculeInput& input);

}  // namespace tessarin::batch
