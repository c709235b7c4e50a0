#include "analysis/report.h"

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "core/number_format.h"
#include "counts/lpi_text.h"

namespace tessarin::analysis {

std::string fragment_text(const ms::FragmentEntry& entry) {
  std::string out;
  if (!entry.fragments) return out;
  for (std::size_t i = 0; i < entry.fragments->size(); ++i) {
    const ms::FragmentTuple& f = (*entry.fragments)[i];
    if (i) out += "  +  ";
    out += f.formula + " (m/z=" + std::to_string(f.mz) + ")";
  }
  return out;
}

void write_molecule_report(std::ostream& out, const std::string& smiles, const Result& a) {
  out << "[VIF] " << smiles << '\n';
  out << "      Molecular mass M = " << core::format_fixed(a.mol_mass_avg, 2)
      << " g/mol (avg)  (M+ peak m/z = " << a.mol_mass << " nominal)\n";
  out << counts::lpi_report_line(a.lpi.counts) << '\n';
  out << counts::eigenvalue_line(a.lpi.eigenvalues) << '\n';
  out.flush();
}

void write_fragment_report(std::ostream& out, const Result& a, int max_generations) {
  const std::vector<const ms::FragmentEntry*> single = a.single_cuts();
  const std::vector<const ms::FragmentEntry*> ringcut = a.ring_double_cuts();
  const std::size_t ring_bonds = a.unsplit_ring_bonds().size();

  if (!a.soft_bonds.empty()) {
    out << "      Soft bonds: " << a.soft_bonds.size() << "  (" << single.size() << " single-cut fragment(s) + "
        << ring_bonds << " ring bond(s))\n";
  } else {
    out << "      Soft bonds: none (all bonds essential \u2192 stable M+ dominates)\n";
  }

  std::set<int, std::greater<>> mz_peaks;
  auto collect = [&mz_peaks](const ms::FragmentEntry& f) {
    if (f.fragments)
      for (const ms::FragmentTuple& t : *f.fragments) mz_peaks.insert(t.mz);
  };
  if (!single.empty()) {
    out << "      Single-cut MS fragments (m/z):\n";
    for (const ms::FragmentEntry* f : single) {
      out << "        if " << f->bond << " cleaves:  " << fragment_text(*f) << '\n';
      collect(*f);
    }
  }
  if (!ringcut.empty()) {
    out << "      Ring double-cut fragments (" << ringcut.size()
        << " possible cleavages \u2014 not all may be observed):\n";
    for (const ms::FragmentEntry* f : ringcut) {
      out << "        " << f->bond << ":  " << fragment_text(*f) << '\n';
      collect(*f);
    }
  }
  if (!mz_peaks.empty()) {
    const std::vector<int> peaks(mz_peaks.begin(), mz_peaks.end());
    out << "      Expected peak m/z list: " << core::format_int_list(peaks) << '\n';
  } else if (single.empty()) {
    out << "      No real fragments \u2192 M+ dominates, single peak\n";
  }
  if (a.recursive_peaks && !a.recursive_peaks->empty()) {
    std::vector<int> keys;
    for (const ms::GenerationPeak& p : *a.recursive_peaks) keys.push_back(p.mz);
    std::sort(keys.begin(), keys.end(), std::greater<>());
    out << "      Multi-generation MS (" << max_generations << " generations, " << keys.size() << " peaks):\n";
    out << "        m/z list: " << core::format_int_list(keys) << '\n';
  }
  out.flush();
}

}  // namespace tessarin::analysis
