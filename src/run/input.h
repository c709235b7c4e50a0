// Reading molecules for batch prediction: SMILES files (one molecule a line,
// the SMILES then an optional name, as RDKit writes .smi files), SDF files,
// and CSV or TSV tables with a header that names a SMILES column; any of them
// plain or gzip-compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/line_source.h"

namespace tessarin::run {

enum class InputFormat { smiles, sdf, csv, tsv };

struct MoleculeInput {
  std::size_t line = 0;  // first line of the molecule in its source, 1-based
  std::string name;      // may be empty
  std::string smiles;    // for an SDF record: empty until resolve_sdf_record
  std::string molblock;  // the SDF record, when read from an SDF file
  std::string cas;       // CAS registry number, when the input gives one
  std::string id;        // the input's identifier of the molecule, when it gives one
};

// The molecules whose first line lies in [first, last] (1-based, inclusive):
// a piece of a large input, for splitting a run into chunks.
struct LineRange {
  std::size_t first = 1;
  std::size_t last = static_cast<std::size_t>(-1);
  bool contains(std::size_t line) const { return line >= first && line <= last; }
};

// "sdf" for .sdf, .sd and .mol files, "csv" for .csv, "tsv" for .tsv and
// .tab (any case, a trailing ".gz" aside), "smiles" otherwise.
InputFormat input_format_of_path(std::string_view path);

// The format a file name declares, a trailing ".gz" aside: .sdf/.sd/.mol,
// .csv, .tsv/.tab, .smi/.smiles/.ism/.can; nothing for any other name.
std::optional<InputFormat> declared_input_format(std::string_view path);

// Where a reader stands between two molecules: all it needs to go on reading
// from there, in another process too (MoleculeFile opened at the position),
// as if it had read the file from its start.
struct ReaderPosition {
  std::uint64_t offset = 0;  // bytes of the input consumed
  std::size_t line = 0;      // lines consumed
  bool seen_content = false;
  bool header_read = false;  // tables: the header and the columns it names
  std::optional<std::size_t> smiles_column, name_column, id_column, cas_column;
};

// Reads one molecule at a time.
//  - SMILES files: blank lines and lines starting with '#' are skipped, and
//    so is a first line whose first column is "SMILES" (any case), the header
//    RDKit's writer puts there. The name is the rest of the line after the
//    SMILES, spaces and tabs included.
//  - CSV and TSV tables: the first line that is not blank is the header.
//    Headings are compared by their letters and digits, any case: the SMILES
//    column is the one headed "smiles" (or "canonical_smiles", "Isomeric
//    SMILES", ...), else the first whose heading ends in "smiles"; the name
//    column is headed "name" (or "title", "Compound Name", ...), else the
//    first whose heading holds "name"; an "id" column (or "cid", "chembl_id",
//    ...) gives the identifier and, without a name column, the name; a "CAS"
//    column the CAS number. CSV fields may be quoted ("a ""quoted"" field",
//    line breaks included); tab-separated fields are taken as they are. Blank
//    lines are skipped; a row without a SMILES field gives an empty SMILES,
//    which the analysis refuses. A header without a SMILES column, or a quote
//    that is never closed, throws InvalidInput naming the line.
//  - SDF files: records end at a "$$$$" line; a last record without one
//    still counts when it holds anything.
// Lines may end in LF, CRLF or CR (core::LineSource).
class MoleculeReader {
 public:
  MoleculeReader(core::LineSource& source, InputFormat format) : source_(source), format_(format) {}
  // Goes on from `from`; `source` must have been opened at from.offset, after
  // from.line lines.
  MoleculeReader(core::LineSource& source, InputFormat format, const ReaderPosition& from);

  // The format of an input without a telling name, from its first lines (read
  // ahead, not consumed): an SDF has the counts line ("V2000" or "V3000") as
  // its fourth line; a table's header has a SMILES column between commas or
  // tabs.
  static InputFormat sniff_format(core::LineSource& source);

  // Only the molecules that start within `range` are returned.
  void set_line_range(LineRange range) { range_ = range; }

  // False at the end of the input. Throws std::runtime_error when reading
  // fails, InvalidInput when a table has no SMILES column or a line is longer
  // than core::LineSource::kMaxLineBytes.
  bool next(MoleculeInput& out);

  InputFormat format() const { return format_; }

  // Where the reader stands now.
  ReaderPosition position() const;

 private:
  bool read_line(std::string& line);
  std::size_t line_no() const { return source_.line_number(); }
  bool next_any(MoleculeInput& out);
  bool next_smiles(MoleculeInput& out);
  bool next_table(MoleculeInput& out);
  bool next_sdf(MoleculeInput& out);
  // The fields of the next row that is not blank, and the line it starts
  // on; false at the end.
  bool read_row(std::vector<std::string>& fields, std::size_t& first_line);

  core::LineSource& source_;
  InputFormat format_;
  bool seen_content_ = false;
  LineRange range_;
  // Table columns, once the header is read.
  bool header_read_ = false;
  std::optional<std::size_t> smiles_column_, name_column_, id_column_, cas_column_;
};

// A file the run cannot read as molecules: missing, a directory, binary data,
// another compression than gzip. The message names the file and the reason;
// error_number() is the system's (0 for a file that opens but holds no text).
class UnusableInput : public UnusableFile {
 public:
  using UnusableFile::UnusableFile;
};

// The position of `path`'s reader before molecule 0, chunk_size,
// 2 * chunk_size, ...: the starts of chunks of chunk_size molecules (none for
// a file without molecules). `molecules` gets the number of molecules.
// Throws InvalidInput as MoleculeFile does (and for a compressed file, which
// cannot be entered in the middle), std::runtime_error when reading fails.
std::vector<ReaderPosition> chunk_starts(const std::string& path, std::size_t chunk_size, std::size_t& molecules);

// The format of a file that chunk_starts can split, as MoleculeFile tells it
// (refusing what it refuses, and compressed files).
InputFormat splittable_input_format(const std::string& path);

// A molecule file opened for reading: a file or standard input ("-"), plain
// text or gzip-compressed (read as what it compresses). Opening reads the
// first block and refuses what is not text. The format is the one the name
// declares (a .gz suffix aside) or, failing that, the one the first lines
// show.
class MoleculeFile {
 public:
  // Throws UnusableInput naming the path and the reason.
  explicit MoleculeFile(const std::string& path);
  // The file from `from` on (a position chunk_starts gave): the rest of a
  // splittable file, read as if from its start. Throws UnusableInput as the
  // other constructor does, and InvalidInput for a file chunk_starts refuses.
  MoleculeFile(const std::string& path, const ReaderPosition& from);
  ~MoleculeFile();
  MoleculeFile(const MoleculeFile&) = delete;
  MoleculeFile& operator=(const MoleculeFile&) = delete;

  InputFormat format() const { return format_; }
  // Whether the file is gzip-compressed.
  bool compressed() const { return source_->compressed(); }
  // The reader of the whole input (once).
  MoleculeReader& reader() { return *reader_; }
  // See MoleculeReader::next.
  bool next(MoleculeInput& out) { return reader_->next(out); }

 private:
  std::unique_ptr<core::LineSource> source_;
  InputFormat format_ = InputFormat::smiles;
  std::unique_ptr<MoleculeReader> reader_;
};

// Fills `smiles` (RDKit's canonical SMILES of the sanitised record), when
// empty `name` (the record's title line), and `cas` and `id` from the
// record's data items ("> <CAS>", "> <ID>" and their usual variants). Throws
// InvalidInput when the record does not parse, naming the line of the file
// (the record's first line is `line`) where the message names one.
void resolve_sdf_record(MoleculeInput& input);

}  // namespace tessarin::run
