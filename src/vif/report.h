// The console report of one analysis, written as it is produced.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "ms/fragments.h"
#include "vif/lpi.h"

namespace tessarin::vif {

// "[VIF] smiles", the molecular mass line, the LPI line and the eigenvalues.
void write_report_block_a(std::ostream& out, const std::string& smiles, double mol_mass_avg, int mol_mass,
                          const Lpi& lpi);

// Soft bonds, single-cut and ring double-cut fragments, the expected peaks
// and, when the multi-generation peaks are given, their m/z list.
void write_report_block_b(std::ostream& out, std::size_t n_soft, std::span<const ms::FragmentEntry> fragments,
                          const std::optional<std::vector<int>>& recursive_mz, int max_generations);

// "HO (m/z=17)  +  CH3 (m/z=15)"
std::string fragment_text(const ms::FragmentEntry& entry);

}  // namespace tessarin::vif
