#include "validation/validation_suite.h"

#include <algorithm>
#include <functional>
#include <set>

#include "analysis/analysis.h"
#include "core/errors.h"
#include "core/number_format.h"

namespace tessarin::validation {
namespace {

const std::string kRule(62, '=');

std::string padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

std::string triple_text(const std::array<int, 3>& t) {
  std::string out = "(";
  out += std::to_string(t[0]);
  out += ", ";
  out += std::to_string(t[1]);
  out += ", ";
  out += std::to_string(t[2]);
  out += ")";
  return out;
}

analysis::Result analyse_row(std::string_view smiles) {
  std::optional<analysis::Result> a = analysis::analyse_smiles(std::string(smiles), analysis::Options{});
  if (!a) throw InvalidInput(std::string(analysis::kUnreadableSmiles) + " (" + std::string(smiles) + ")");
  return std::move(*a);
}

}  // namespace

bool run_validation(std::span<const LpiReference> lpi_rows, std::span<const MsReference> ms_rows, bool verbose,
                    std::ostream& out) {
  bool verdict = true;
  auto heading = [&](const char* title) {
    if (verbose) out << kRule << '\n' << title << '\n' << kRule << '\n' << std::flush;
  };

  heading("LPI validation (Varnholt 1985)");
  for (const LpiReference& row : lpi_rows) {
    const counts::LpiCounts c = analyse_row(row.smiles).lpi.counts;
    const std::array<int, 3> found{c.n_plus, c.n_zero, c.n_minus};
    const bool ok = found == row.expected;
    verdict = verdict && ok;
    if (verbose) {
      out << "  [" << (ok ? "PASS" : "FAIL") << "] " << padded(row.name, 12) << ' ' << padded(row.smiles, 10)
          << " expected=" << triple_text(row.expected) << "  found=" << triple_text(found) << '\n'
          << std::flush;
    }
  }

  heading("MS soft-bond validation (Orlemann 2017)");
  for (const MsReference& row : ms_rows) {
    const analysis::Result a = analyse_row(row.smiles);
    std::set<int, std::greater<>> found;
    for (const ms::FragmentEntry& f : a.fragments) {
      if (f.split && f.fragments)
        for (const ms::FragmentTuple& t : *f.fragments) found.insert(t.mz);
    }
    const bool ok = found.count(row.mz) > 0;
    verdict = verdict && ok;
    if (verbose) {
      out << "  [" << (ok ? "PASS" : "FAIL") << "] " << padded(row.name, 14) << " m/z=" << row.mz
          << " expected  found peaks=" << core::format_int_list(std::vector<int>(found.begin(), found.end())) << '\n'
          << std::flush;
    }
  }

  if (verbose) {
    out << kRule << '\n'
        << "RESULT: " << (verdict ? "ALL TESTS PASSED \u2713" : "SOME TESTS FAILED \u2717") << '\n'
        << kRule << '\n'
        << std::flush;
  }
  return verdict;
}

}  // namespace tessarin::validation
