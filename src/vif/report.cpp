#include "vif/report.h"

#include <algorithm>
#include <functional>
#include <set>

#include "core/number_format.h"
#include "vif/lpi_text.h"

namespace tessarin::vif {

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

void write_report_block_a(std::ostream& out, const std::string& smiles, double mol_mass_avg, int mol_mass,
                          const Lpi& lpi) {
  out << "[VIF] " << smiles << '\n';
  out << "      Molecular mass M = " << core::format_fixed(mol_mass_avg, 2) << " g/mol (avg)  (M+ peak m/z = "
      << mol_mass << " nominal)\n";
  out << lpi_report_line(lpi.counts) << '\n';
  out << eigenvalue_line(lpi.eigenvalues) << '\n';
  out.flush();
}

void write_report_block_b(std::ostream& out, std::size_t n_soft, std::span<const ms::FragmentEntry> fragments,
                          const std::optional<std::vector<int>>& recursive_mz, int max_generations) {
  std::vector<const ms::FragmentEntry*> single, ringcut;
  std::size_t ring_bonds = 0;
  for (const ms::FragmentEntry& f : fragments) {
    if (!f.split) {
      ++ring_bonds;
    } else if (f.mode == "single") {
      single.push_back(&f);
    } else if (f.mode == "ring") {
      ringcut.push_back(&f);
    }
  }

  if (n_soft > 0) {
    out << "      Soft bonds: " << n_soft << "  (" << single.size() << " single-cut fragment(s) + " << ring_bonds
        << " ring bond(s))\n";
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
  if (recursive_mz && !recursive_mz->empty()) {
    std::vector<int> keys = *recursive_mz;
    std::sort(keys.begin(), keys.end(), std::greater<>());
    out << "      Multi-generation MS (" << max_generations << " generations, " << keys.size() << " peaks):\n";
    out << "        m/z list: " << core::format_int_list(keys) << '\n';
  }
  out.flush();
}

}  // namespace tessarin::vif
