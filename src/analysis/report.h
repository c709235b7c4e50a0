// The console report of one analysis: the molecule's lines (its masses and
// LPI) and the fragment lines (soft bonds, cuts, expected peaks).
#pragma once

#include <ostream>
#include <string>

#include "analysis/analysis.h"

namespace tessarin::analysis {

// "[VIF] smiles", the molecular mass line, the LPI line and the eigenvalues.
// Needs only the molecule's part of the result (masses and LPI).
void write_molecule_report(std::ostream& out, const std::string& smiles, const Result& result);

// Soft bonds, single-cut and ring double-cut fragments, the expected peaks
// and, with further generations of cuts, their m/z list.
void write_fragment_report(std::ostream& out, const Result& result, int max_generations);

// "HO (m/z=17)  +  CH3 (m/z=15)"
std::string fragment_text(const ms::FragmentEntry& entry);

}  // namespace tessarin::analysis
