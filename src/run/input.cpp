#include "run/input.h"

#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <regex>

#include "core/errors.h"
#include "spectra/reader.h"

namespace tessarin::run {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A column or data-item name reduced to its lowercase letters and digits:
// "CAS No.", "cas_no" and "CASNO" all read "casno".
std::string reduced_name(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c)) out.push_back(static_cast<char>(std::tolower(c)));
  }
  return out;
}

// The names that mark a column or data item, most telling first.
constexpr std::array kSmilesNames{"smiles", "canonicalsmiles", "isomericsmiles", "smi", "smilesstring"};
constexpr std::array kNameNames{"name",     "title",    "compoundname", "moleculename", "molname",
                                "compound", "molecule", "chemicalname", "commonname",   "iupacname"};
constexpr std::array kIdNames{"id",        "compoundid",         "moleculeid", "molid",      "identifier",
                              "cid",       "pubchemcompoundcid", "pubchemcid", "regno",      "registryid",
                              "catalogid", "chemblid",           "zincid",     "drugbankid", "nsc",
                              "nscnumber"};
constexpr std::array kCasNames{"cas", "casno", "casnumber", "casrn", "casregistrynumber", "casregno"};

// The position in `names` of a reduced name (the lower, the more telling).
template <std::size_t N>
std::optional<std::size_t> rank_in(const std::array<const char*, N>& names, const std::string& reduced) {
  for (std::size_t i = 0; i < N; ++i) {
    if (reduced == names[i]) return i;
  }
  return std::nullopt;
}

// The column whose header ranks best in `names`.
template <std::size_t N>
std::optional<std::size_t> best_column(const std::vector<std::string>& header,
                                       const std::array<const char*, N>& names) {
  std::optional<std::size_t> best;
  std::size_t best_rank = N;
  for (std::size_t c = 0; c < header.size(); ++c) {
    const std::optional<std::size_t> r = rank_in(names, reduced_name(header[c]));
    if (r && *r < best_rank) {
      best = c;
      best_rank = *r;
    }
  }
  return best;
}

// The column whose reduced heading passes `test`, the first one.
template <typename Test>
std::optional<std::size_t> first_column(const std::vector<std::string>& header, Test test) {
  for (std::size_t c = 0; c < header.size(); ++c) {
    if (test(reduced_name(header[c]))) return c;
  }
  return std::nullopt;
}

std::optional<std::size_t> smiles_column_of(const std::vector<std::string>& header) {
  if (std::optional<std::size_t> c = best_column(header, kSmilesNames)) return c;
  return first_column(header, [](const std::string& h) { return h.ends_with("smiles"); });
}

// A header line split at its delimiters, each heading without its quotes.
std::vector<std::string> headings_of(std::string_view line, char delimiter) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const auto end = line.find(delimiter, start);
    std::string_view f = trimmed(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    fields.emplace_back(f);
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// The header of a table: more than one field, one of them a SMILES column.
bool looks_like_header(std::string_view line, char delimiter) {
  if (line.find(delimiter) == std::string_view::npos) return false;
  const std::vector<std::string> fields = headings_of(line, delimiter);
  return fields.size() > 1 && smiles_column_of(fields).has_value();
}

std::string field_at(const std::vector<std::string>& fields, const std::optional<std::size_t>& column) {
  if (!column || *column >= fields.size()) return {};
  return std::string(trimmed(fields[*column]));
}

// SDF data items: "> <NAME>" (with anything else on the line) and the value
// lines up to a blank line, joined by blanks.
struct DataItem {
  std::string name;
  std::string value;
};

std::vector<DataItem> data_items(std::string_view block) {
  std::vector<DataItem> items;
  bool after_end = false;
  DataItem* current = nullptr;
  std::size_t pos = 0;
  while (pos < block.size()) {
    auto eol = block.find('\n', pos);
    if (eol == std::string_view::npos) eol = block.size();
    const std::string_view line = block.substr(pos, eol - pos);
    pos = eol + 1;
    if (!after_end) {
      after_end = line.rfind("M  END", 0) == 0;
      continue;
    }
    if (!line.empty() && line[0] == '>') {
      const auto open = line.find('<');
      const auto close = open == std::string_view::npos ? open : line.find('>', open);
      current = nullptr;
      if (close != std::string_view::npos) {
        items.push_back({std::string(line.substr(open + 1, close - open - 1)), {}});
        current = &items.back();
      }
      continue;
    }
    const std::string_view value = trimmed(line);
    if (value.empty()) {
      current = nullptr;
      continue;
    }
    if (current != nullptr) {
      if (!current->value.empty()) current->value += ' ';
      current->value += value;
    }
  }
  return items;
}

template <std::size_t N>
std::string best_item(const std::vector<DataItem>& items, const std::array<const char*, N>& names) {
  const std::string* best = nullptr;
  std::size_t best_rank = N;
  for (const DataItem& item : items) {
    const std::optional<std::size_t> r = rank_in(names, reduced_name(item.name));
    if (r && *r < best_rank && !item.value.empty()) {
      best = &item.value;
      best_rank = *r;
    }
  }
  return best != nullptr ? *best : std::string();
}

// RDKit names lines of the record ("on line 4", "at line 4", "line: 4");
// the file's line numbers are what a user can look up.
std::string with_file_lines(const std::string& message, std::size_t first_line) {
  static const std::regex line_number(R"(\b([Ll]ine):?\s*(\d+))");
  std::string out;
  auto begin = std::sregex_iterator(message.begin(), message.end(), line_number);
  std::size_t copied = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    out.append(message, copied, static_cast<std::size_t>(m.position(0)) - copied);
    std::size_t in_record = 0;
    try {
      in_record = std::stoul(m[2].str());
    } catch (const std::exception&) {
      in_record = 0;
    }
    out += m[1].str() + " " + std::to_string(in_record > 0 ? first_line + in_record - 1 : first_line);
    copied = static_cast<std::size_t>(m.position(0) + m.length(0));
  }
  out.append(message, copied, std::string::npos);
  return out;
}

}  // namespace

InputFormat input_format_of_path(std::string_view path) {
  return declared_input_format(path).value_or(InputFormat::smiles);
}

std::optional<InputFormat> declared_input_format(std::string_view path) {
  std::string name = lower(path);
  if (name.size() > 3 && name.ends_with(".gz")) name.resize(name.size() - 3);
  const auto slash = name.rfind('/');
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  const std::string ext = name.substr(dot + 1);
  if (ext == "sdf" || ext == "sd" || ext == "mol") return InputFormat::sdf;
  if (ext == "csv") return InputFormat::csv;
  if (ext == "tsv" || ext == "tab") return InputFormat::tsv;
  if (ext == "smi" || ext == "smiles" || ext == "ism" || ext == "can") return InputFormat::smiles;
  return std::nullopt;
}

InputFormat MoleculeReader::sniff_format(core::LineSource& source) {
  std::string_view head = source.head(std::size_t{1} << 16);
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);  // byte-order mark
  std::vector<std::string_view> first;                             // up to four lines
  while (first.size() < 4 && !head.empty()) {
    const std::size_t end = std::min(head.find_first_of("\r\n"), head.size());
    first.push_back(head.substr(0, end));
    std::size_t next = end;
    if (next < head.size()) next += head[next] == '\r' && next + 1 < head.size() && head[next + 1] == '\n' ? 2 : 1;
    head.remove_prefix(next);
  }
  if (first.size() == 4 &&
      (first[3].find("V2000") != std::string_view::npos || first[3].find("V3000") != std::string_view::npos)) {
    return InputFormat::sdf;
  }
  for (std::string_view l : first) {
    const std::string_view t = trimmed(l);
    if (t.empty() || t.front() == '#') continue;
    if (looks_like_header(t, '\t')) return InputFormat::tsv;
    if (looks_like_header(t, ',')) return InputFormat::csv;
    break;
  }
  return InputFormat::smiles;
}

MoleculeReader::MoleculeReader(core::LineSource& source, InputFormat format, const ReaderPosition& from)
    : source_(source),
      format_(format),
      seen_content_(from.seen_content),
      header_read_(from.header_read),
      smiles_column_(from.smiles_column),
      name_column_(from.name_column),
      id_column_(from.id_column),
      cas_column_(from.cas_column) {}

ReaderPosition MoleculeReader::position() const {
  return {source_.offset(), line_no(),    seen_content_, header_read_,
          smiles_column_,   name_column_, id_column_,    cas_column_};
}

bool MoleculeReader::read_line(std::string& line) {
  const std::string* l = source_.next();
  if (l == nullptr) return false;
  if (source_.truncated()) {
    throw InvalidInput("line " + std::to_string(line_no()) + " is longer than " +
                       std::to_string(core::LineSource::kMaxLineBytes >> 20) + " MiB");
  }
  line = *l;
  return true;
}

bool MoleculeReader::next(MoleculeInput& out) {
  for (;;) {
    out = MoleculeInput{};
    if (line_no() >= range_.last) return false;
    if (!next_any(out)) return false;
    if (range_.contains(out.line)) return true;
    if (out.line > range_.last) return false;
  }
}

bool MoleculeReader::next_any(MoleculeInput& out) {
  switch (format_) {
    case InputFormat::sdf:
      return next_sdf(out);
    case InputFormat::csv:
    case InputFormat::tsv:
      return next_table(out);
    case InputFormat::smiles:
      break;
  }
  return next_smiles(out);
}

bool MoleculeReader::next_smiles(MoleculeInput& out) {
  std::string line;
  while (read_line(line)) {
    const std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const auto end = std::min(text.find_first_of(kBlanks), text.size());
    const std::string_view smiles = text.substr(0, end);
    const bool first = !seen_content_;
    seen_content_ = true;
    if (first && lower(smiles) == "smiles") continue;  // header row
    out.line = line_no();
    out.smiles = std::string(smiles);
    // The name is the rest of the line, tabs and all.
    out.name = std::string(trimmed(text.substr(end)));
    return true;
  }
  return false;
}

bool MoleculeReader::next_table(MoleculeInput& out) {
  std::vector<std::string> fields;
  std::size_t first_line = 0;
  if (!header_read_) {
    if (!read_row(fields, first_line)) return false;
    header_read_ = true;
    smiles_column_ = smiles_column_of(fields);
    if (!smiles_column_) {
      std::string names;
      for (const std::string& f : fields) names += (names.empty() ? "" : ", ") + std::string(trimmed(f));
      throw InvalidInput(
          "line " + std::to_string(first_line) +
          ": the table's header names no SMILES column (a column headed \"smiles\"); it reads: " + names);
    }
    name_column_ = best_column(fields, kNameNames);
    if (!name_column_) {
      name_column_ = first_column(fields, [](const std::string& h) { return h.find("name") != std::string::npos; });
    }
    id_column_ = best_column(fields, kIdNames);
    cas_column_ = best_column(fields, kCasNames);
  }
  if (!read_row(fields, first_line)) return false;
  out.line = first_line;
  out.smiles = field_at(fields, smiles_column_);
  out.id = field_at(fields, id_column_);
  out.cas = field_at(fields, cas_column_);
  out.name = name_column_ ? field_at(fields, name_column_) : out.id;
  return true;
}

bool MoleculeReader::next_sdf(MoleculeInput& out) {
  std::string line;
  std::string block;
  std::size_t start = 0;
  bool has_content = false;
  while (read_line(line)) {
    if (start == 0) start = line_no();
    if (line.rfind("$$$$", 0) == 0) {
      if (!has_content && trimmed(block).empty()) {  // stray terminator
        block.clear();
        start = 0;
        continue;
      }
      out.line = start;
      out.molblock = std::move(block);
      return true;
    }
    if (!trimmed(line).empty()) has_content = true;
    block += line;
    block += '\n';
  }
  if (!has_content) return false;
  out.line = start;
  out.molblock = std::move(block);
  return true;
}

bool MoleculeReader::read_row(std::vector<std::string>& fields, std::size_t& first_line) {
  fields.clear();
  std::string line;
  do {
    if (!read_line(line)) return false;
  } while (trimmed(line).empty());
  first_line = line_no();
  if (format_ == InputFormat::tsv) {
    std::size_t start = 0;
    for (;;) {
      const auto tab = line.find('\t', start);
      fields.emplace_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) return true;
      start = tab + 1;
    }
  }
  // CSV: a quoted field runs to its closing quote, over line breaks if need be.
  std::string field;
  std::size_t i = 0;
  bool quoted = false;
  for (;;) {
    if (i == line.size()) {
      if (!quoted) {
        fields.push_back(std::move(field));
        return true;
      }
      if (!read_line(line)) {
        throw InvalidInput("line " + std::to_string(first_line) + ": a quoted field is not closed");
      }
      field += '\n';
      i = 0;
      continue;
    }
    const char c = line[i++];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i < line.size() && line[i] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == ',') {
      fields.push_back(std::move(field));
      field.clear();
    } else if (c == '"' && trimmed(field).empty()) {
      field.clear();
      quoted = true;
    } else {
      field += c;
    }
  }
}

namespace {

// Why the first block is not text of molecules, or nothing.
std::optional<std::string> not_text(std::string_view block, bool compressed) {
  auto starts = [&block](std::string_view magic) { return block.substr(0, magic.size()) == magic; };
  if (!compressed) {
    if (starts("BZh")) return "it is bzip2-compressed; only gzip-compressed input is read";
    if (starts("\xFD"
               "7zXZ"))
      return "it is xz-compressed; only gzip-compressed input is read";
    if (starts("\x28\xB5\x2F\xFD")) return "it is zstd-compressed; only gzip-compressed input is read";
    if (starts("PK\x03\x04")) return "it is a zip archive; unpack it first";
  }
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) return "it is UTF-16 text; save it as UTF-8";
  std::size_t control = 0;
  for (unsigned char c : block) {
    if (c == 0) return "it holds binary data, not text";
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1b) || c == 0x7f) {
      ++control;
    }
  }
  if (control * 20 > block.size()) return "it holds binary data, not text";
  return std::nullopt;
}

// The format of a spectrum file given where molecules are read, or nothing:
// by its name (a molecule format's name never counts), else by a first line
// only a spectrum file begins with. Read as SMILES, each of its lines would
// fail as a molecule of its own.
std::optional<spectra::Format> spectrum_file(const std::string& path, std::string_view block) {
  if (path != "-" && declared_input_format(path)) return std::nullopt;
  if (path != "-") {
    const std::optional<spectra::Format> named = spectra::format_from_extension(path);
    if (named && *named != spectra::Format::csv) return named;
  }
  if (block.substr(0, 3) == "\xEF\xBB\xBF") block.remove_prefix(3);
  while (!block.empty()) {
    const std::size_t end = std::min(block.find_first_of("\r\n"), block.size());
    const std::string line = lower(trimmed(block.substr(0, end)));
    block.remove_prefix(std::min(end + 1, block.size()));
    if (line.empty()) continue;
    if (line.starts_with("##title=")) return spectra::Format::jcamp;
    if (line == "begin ions") return spectra::Format::mgf;
    if (line.starts_with("accession:")) return spectra::Format::massbank;
    if (line.starts_with("name:")) return spectra::Format::msp;
    if (line.front() != '#') break;
  }
  return std::nullopt;
}

}  // namespace

MoleculeFile::MoleculeFile(const std::string& path) {
  const std::string shown = path == "-" ? std::string("standard input") : path;
  try {
    source_ = std::make_unique<core::LineSource>(path);
  } catch (const UnusableFile& e) {
    throw UnusableInput(e.what(), e.path(), e.error_number());
  }
  std::string_view block;
  try {
    block = source_->head(std::size_t{1} << 16);
  } catch (const std::exception& e) {
    throw UnusableInput(e.what(), path, 0);
  }
  if (const std::optional<std::string> why = not_text(block, source_->compressed())) {
    throw UnusableInput(shown + " is not a file of molecules: " + *why, path, 0);
  }
  if (const std::optional<spectra::Format> spectra_format = spectrum_file(path, block)) {
    throw UnusableInput(shown + " is a spectrum file (" + std::string(spectra::format_name(*spectra_format)) +
                            "), not a file of molecules: give SMILES, SDF or CSV/TSV (a spectral library is " +
                            "searched with `tessarin search`)",
                        path, 0);
  }
  const std::optional<InputFormat> declared = path == "-" ? std::nullopt : declared_input_format(path);
  format_ = declared ? *declared : MoleculeReader::sniff_format(*source_);
  reader_ = std::make_unique<MoleculeReader>(*source_, format_);
}

MoleculeFile::MoleculeFile(const std::string& path, const ReaderPosition& from) {
  format_ = splittable_input_format(path);
  try {
    source_ = std::make_unique<core::LineSource>(
        path, core::LineSource::Options{core::LineSource::Text::bytes, from.offset, from.line});
  } catch (const UnusableFile& e) {
    throw UnusableInput(e.what(), e.path(), e.error_number());
  }
  reader_ = std::make_unique<MoleculeReader>(*source_, format_, from);
}

MoleculeFile::~MoleculeFile() = default;

InputFormat splittable_input_format(const std::string& path) {
  if (path == "-") throw InvalidInput("standard input cannot be split into chunks");
  const MoleculeFile file(path);
  if (file.compressed()) {
    throw InvalidInput(path + " is compressed, and a compressed file cannot be split into chunks: decompress it first");
  }
  return file.format();
}

std::vector<ReaderPosition> chunk_starts(const std::string& path, std::size_t chunk_size, std::size_t& molecules) {
  if (chunk_size == 0) throw InvalidInput("the chunk size must be at least 1");
  MoleculeFile file(path, ReaderPosition{});
  MoleculeReader& reader = file.reader();
  std::vector<ReaderPosition> starts;
  MoleculeInput m;
  molecules = 0;
  for (ReaderPosition before = reader.position(); reader.next(m); before = reader.position()) {
    if (molecules++ % chunk_size == 0) starts.push_back(before);
  }
  return starts;
}

// The canonical SMILES of the sanitised record is what gets analysed: a
// structure read from an SDF file then gives the record it gives from a
// SMILES file, and the record's SMILES reproduces it.
void resolve_sdf_record(MoleculeInput& input) {
  if (input.name.empty()) {
    const auto eol = input.molblock.find('\n');
    input.name = std::string(trimmed(std::string_view(input.molblock).substr(0, eol)));
  }
  const std::vector<DataItem> items = data_items(input.molblock);
  if (input.cas.empty()) input.cas = best_item(items, kCasNames);
  if (input.id.empty()) input.id = best_item(items, kIdNames);
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::MolBlockToMol(input.molblock, /*sanitize=*/true, /*removeHs=*/true));
  } catch (const std::exception& e) {
    throw InvalidInput("unreadable SDF record: " + with_file_lines(e.what(), input.line));
  }
  if (!mol) throw InvalidInput("unreadable SDF record");
  input.smiles = RDKit::MolToSmiles(*mol);
  if (input.smiles.empty()) throw InvalidInput("SDF record without atoms");
}

}  // namespace tessarin::run
