#include "batch/input.h"

#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "core/errors.h"

namespace tessarin::batch {
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
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// Next whitespace-separated column of `s` from `pos`.
std::string_view column(std::string_view s, std::size_t& pos) {
  const auto start = s.find_first_not_of(kBlanks, pos);
  if (start == std::string_view::npos) {
    pos = s.size();
    return {};
  }
  auto end = s.find_first_of(kBlanks, start);
  if (end == std::string_view::npos) end = s.size();
  pos = end;
  return s.substr(start, end - start);
}

}  // namespace

InputFormat input_format_of_path(std::string_view path) {
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos) return InputFormat::smiles;
  const std::string ext = lower(path.substr(dot + 1));
  if (ext == "sdf" || ext == "sd" || ext == "mol") return InputFormat::sdf;
  if (ext == "csv") return InputFormat::csv;
  if (ext == "tsv" || ext == "tab") return InputFormat::tsv;
  return InputFormat::smiles;
}

InputFormat MoleculeReader::sniff_format(std::istream& in, std::deque<std::string>& lookahead) {
  std::string line;
  while (lookahead.size() < 4 && std::getline(in, line)) lookahead.push_back(line);
  if (in.bad()) throw std::runtime_error("cannot read the input");
  if (lookahead.size() == 4 &&
      (lookahead[3].find("V2000") != std::string::npos || lookahead[3].find("V3000") != std::string::npos)) {
    return InputFormat::sdf;
  }
  return InputFormat::smiles;
}

bool MoleculeReader::read_line(std::string& line) {
  if (!lookahead_.empty()) {
    line = std::move(lookahead_.front());
    lookahead_.pop_front();
  } else if (!std::getline(in_, line)) {
    if (in_.bad()) throw std::runtime_error("cannot read the input (line " + std::to_string(line_no_ + 1) + ")");
    return false;
  }
  ++line_no_;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool MoleculeReader::next(MoleculeInput& out) {
  out = MoleculeInput{};
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
    std::size_t pos = 0;
    const std::string_view smiles = column(text, pos);
    const bool first = !seen_content_;
    seen_content_ = true;
    if (first && lower(smiles) == "smiles") continue;  // header row
    out.line = line_no_;
    out.smiles = std::string(smiles);
    out.name = std::string(column(text, pos));
    return true;
  }
  return false;
}

bool MoleculeReader::next_sdf(MoleculeInput& out) {
  std::string line;
  std::string block;
  std::size_t start = 0;
  bool has_content = false;
  while (read_line(line)) {
    if (start == 0) start = line_no_;
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
  first_line = line_no_;
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

bool MoleculeReader::next_table(MoleculeInput& out) {
  std::vector<std::string> fields;
  std::size_t row_line = 0;
  if (!seen_content_) {
    if (!read_row(fields, row_line)) return false;
    seen_content_ = true;
    std::vector<std::string> heads;
    for (const std::string& f : fields) heads.push_back(lower(trimmed(f)));
    auto find = [&heads](auto&& match) -> std::size_t {
      for (std::size_t k = 0; k < heads.size(); ++k) {
        if (match(heads[k])) return k;
      }
      return std::string::npos;
    };
    auto ends_with = [](const std::string& s, std::string_view tail) {
      return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    smiles_column_ = find([](const std::string& h) { return h == "smiles"; });
    if (smiles_column_ == std::string::npos) {
      smiles_column_ = find([&](const std::string& h) { return ends_with(h, "smiles"); });
    }
    if (smiles_column_ == std::string::npos) {
      throw InvalidInput("line " + std::to_string(row_line) +
                         ": the table's header names no SMILES column (a column headed \"smiles\")");
    }
    name_column_ = find([](const std::string& h) { return h == "name"; });
    if (name_column_ == std::string::npos) {
      name_column_ = find([](const std::string& h) { return h.find("name") != std::string::npos; });
    }
    if (name_column_ == std::string::npos) {
      name_column_ = find([](const std::string& h) { return h == "id" || h == "title" || h == "identifier"; });
    }
  }
  if (!read_row(fields, row_line)) return false;
  out.line = row_line;
  if (smiles_column_ < fields.size()) out.smiles = std::string(trimmed(fields[smiles_column_]));
  if (name_column_ < fields.size()) out.name = std::string(trimmed(fields[name_column_]));
  return true;
}

MoleculeFile::MoleculeFile(const std::string& path) {
  if (path == "-") {
    std::deque<std::string> lookahead;
    const InputFormat format = MoleculeReader::sniff_format(std::cin, lookahead);
    reader_ = std::make_unique<MoleculeReader>(std::cin, format, std::move(lookahead));
    return;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw InvalidInput("cannot read " + path + ": it is a directory");
  file_.open(path, std::ios::binary);
  if (!file_) throw InvalidInput("cannot open " + path + ": " + std::strerror(errno));
  reader_ = std::make_unique<MoleculeReader>(file_, input_format_of_path(path));
}

// The canonical SMILES of the sanitised record is what gets analysed: a
// structure read from an SDF file then gives the record it gives from a
// SMILES file, and the record's SMILES reproduces it.
void resolve_sdf_record(MoleculeInput& input) {
  if (input.name.empty()) {
    const auto eol = input.molblock.find('\n');
    input.name = std::string(trimmed(std::string_view(input.molblock).substr(0, eol)));
  }
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::MolBlockToMol(input.molblock, /*sanitize=*/true, /*removeHs=*/true));
  } catch (const std::exception& e) {
    throw InvalidInput(std::string("unreadable SDF record: ") + e.what());
  }
  if (!mol) throw InvalidInput("unreadable SDF record");
  input.smiles = RDKit::MolToSmiles(*mol);
  if (input.smiles.empty()) throw InvalidInput("SDF record without atoms");
}

}  // namespace tessarin::batch
