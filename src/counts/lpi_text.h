// The three ways an LPI is written in reports and figure titles.
#pragma once

#include <span>
#include <string>

#include "counts/lpi.h"

namespace tessarin::counts {

// "      LPI = {n+=5, n0=0, n-=6}  (11 orbitals total)"
std::string lpi_report_line(const LpiCounts& counts);

// "      Eigenvalues: [-1.53, -1.53, ...]": each value rounded to 3 decimals
// the way NumPy rounds, then written as Python writes a float.
std::string eigenvalue_line(std::span<const double> eigenvalues);

// "   |   LPI = {n+=5, n0=0, n-=6}   |   " (between SMILES and soft-bond label).
std::string lpi_title_part(const LpiCounts& counts);

}  // namespace tessarin::counts
