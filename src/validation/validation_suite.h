// The regression check of the predictions against the reference tables.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "validation/reference_tables.h"

namespace tessarin::validation {

// Analyses every row (default options, no report of its own), compares, and
// when `verbose` writes one PASS/FAIL line per row between rule lines and the
// verdict. Returns true only when every row passed. A row whose SMILES does
// not parse throws InvalidInput after the lines written so far.
bool run_validation(std::span<const LpiReference> lpi_rows, std::span<const MsReference> ms_rows, bool verbose,
                    std::ostream& out);

}  // namespace tessarin::validation
