#include "identify/candidate_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "core/errors.h"
#include "molecule/prepare_molecule.h"
#include "run/input.h"

namespace tessarin::identify {
namespace {

constexpr std::string_view kMagic = "tessarin-candidate-index 1";

// What names this very file: its absolute path, size and modification time
// (to the nanosecond). Empty for standard input or a file that cannot be
// looked at.
std::string file_identity(const std::string& path) {
  if (path == "-") return {};
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::canonical(path, ec);
  if (ec) return {};
  struct stat st {};
  if (::stat(absolute.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return absolute.string() + "\n" + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

// Fields of a saved line: tabs, line breaks and backslashes written as \t, \n, \r, \\.
std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::optional<std::size_t> whole_number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::size_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

}  // namespace

std::string saved_index_path(const std::string& path) { return path + ".tessarin-index"; }

CandidateIndex::CandidateIndex(const std::string& path, bool use_saved, const std::function<bool()>& keep_going)
    : path_(path) {
  const std::string before = use_saved ? file_identity(path) : std::string();
  if (!before.empty() && load_saved(before)) {
    from_saved_ = true;
    return;
  }
  read_file(keep_going);
  // A file that changed while it was read is not saved under either identity.
  if (!before.empty() && file_identity(path) == before) saved_ = save(before);
}

void CandidateIndex::add(Candidate c) {
  const auto at = static_cast<std::uint32_t>(entries_.size());
  by_mass_[c.nominal_mass].push_back(at);
  try {
    by_formula_[formula_counts(c.formula)].push_back(at);
  } catch (const InvalidInput&) {
    // A formula no search can name (a dummy atom): found by its mass only.
  }
  entries_.push_back(std::move(c));
}

void CandidateIndex::read_file(const std::function<bool()>& keep_going) {
  run::MoleculeFile file(path_);
  run::MoleculeInput m;
  std::size_t position = 0;
  while (file.next(m)) {
    if (keep_going && position % 256 == 0 && !keep_going()) throw IndexingStopped("indexing of " + path_ + " stopped");
    if (entries_.size() >= std::numeric_limits<std::uint32_t>::max()) {
      throw InvalidInput(path_ + " holds more molecules than an index takes");
    }
    const std::size_t here = position++;
    std::string reason;
    if (!m.molblock.empty()) {
      try {
        run::resolve_sdf_record(m);
      } catch (const InvalidInput& e) {
        reason = e.what();
      }
    }
    std::optional<Composition> composition;
    if (reason.empty()) {
      composition = composition_of(m.smiles);
      if (!composition) reason = molecule::smiles_error(m.smiles, /*sanitise=*/true);
    }
    if (!composition) {
      failed_.push_back({here, m.line, m.name, m.smiles, reason});
      continue;
    }
    Candidate c;
    c.smiles = std::move(m.smiles);
    c.name = std::move(m.name);
    c.formula = std::move(composition->formula);
    c.nominal_mass = composition->nominal_mass;
    c.line = m.line;
    c.id = std::move(m.id);
    add(std::move(c));
  }
}

std::vector<Candidate> CandidateIndex::find(std::optional<int> nominal_mass,
                                            const std::optional<std::string>& formula) const {
  if (!nominal_mass && !formula) throw InvalidInput("an index look-up needs a nominal mass or a formula");
  const std::vector<std::uint32_t>* at = nullptr;
  if (formula) {
    const auto it = by_formula_.find(formula_counts(*formula));
    if (it != by_formula_.end()) at = &it->second;
  } else if (const auto it = by_mass_.find(*nominal_mass); it != by_mass_.end()) {
    at = &it->second;
  }
  std::vector<Candidate> out;
  if (at == nullptr) return out;
  for (const std::uint32_t i : *at) {
    if (nominal_mass && entries_[i].nominal_mass != *nominal_mass) continue;
    out.push_back(entries_[i]);
  }
  return out;
}

// The saved index: the magic line, the file's identity (two lines), the
// counts, then one line per molecule ("E", line, mass, formula, SMILES, name,
// id) and per failure ("F", position, line, SMILES, name, reason), fields
// escaped and separated by tabs.
bool CandidateIndex::save(const std::string& identity) const {
  const std::string target = saved_index_path(path_);
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      target + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << kMagic << '\n' << identity << '\n' << entries_.size() << ' ' << failed_.size() << '\n';
    for (const Candidate& c : entries_) {
      out << "E\t" << c.line << '\t' << c.nominal_mass << '\t' << escaped(c.formula) << '\t' << escaped(c.smiles)
          << '\t' << escaped(c.name) << '\t' << escaped(c.id) << '\n';
    }
    for (const FailedMolecule& f : failed_) {
      out << "F\t" << f.position << '\t' << f.line << '\t' << escaped(f.smiles) << '\t' << escaped(f.name) << '\t'
          << escaped(f.reason) << '\n';
    }
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool CandidateIndex::load_saved(const std::string& identity) {
  std::ifstream in(saved_index_path(path_), std::ios::binary);
  if (!in) return false;
  std::string line, path_line, stamp_line;
  if (!std::getline(in, line) || line != kMagic) return false;
  if (!std::getline(in, path_line) || !std::getline(in, stamp_line) || path_line + "\n" + stamp_line != identity) {
    return false;
  }
  std::size_t entries = 0, failures = 0;
  if (!std::getline(in, line)) return false;
  {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    const auto e = whole_number(std::string_view(line).substr(0, space));
    const auto f = whole_number(std::string_view(line).substr(space + 1));
    if (!e || !f) return false;
    entries = *e;
    failures = *f;
  }
  std::vector<Candidate> read_entries;
  std::vector<FailedMolecule> read_failed;
  while (std::getline(in, line)) {
    if (in.eof()) return false;  // a last line without its line break: the file was cut
    const std::vector<std::string_view> f = split_tabs(line);
    if (f.size() == 7 && f[0] == "E") {
      const auto at = whole_number(f[1]);
      const auto mass = whole_number(f[2]);
      auto formula = unescaped(f[3]), smiles = unescaped(f[4]), name = unescaped(f[5]), id = unescaped(f[6]);
      if (!at || !mass || !formula || !smiles || !name || !id || *mass > 1'000'000'000) return false;
      Candidate c;
      c.line = *at;
      c.nominal_mass = static_cast<int>(*mass);
      c.formula = std::move(*formula);
      c.smiles = std::move(*smiles);
      c.name = std::move(*name);
      c.id = std::move(*id);
      read_entries.push_back(std::move(c));
    } else if (f.size() == 6 && f[0] == "F") {
      const auto position = whole_number(f[1]);
      const auto at = whole_number(f[2]);
      auto smiles = unescaped(f[3]), name = unescaped(f[4]), reason = unescaped(f[5]);
      if (!position || !at || !smiles || !name || !reason) return false;
      read_failed.push_back({*position, *at, std::move(*name), std::move(*smiles), std::move(*reason)});
    } else {
      return false;
    }
  }
  if (in.bad() || read_entries.size() != entries || read_failed.size() != failures) return false;
  for (Candidate& c : read_entries) add(std::move(c));
  failed_ = std::move(read_failed);
  return true;
}

}  // namespace tessarin::identify
