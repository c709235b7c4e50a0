// What the fuzz targets check, as plain functions: the libFuzzer entry points
// call them on generated inputs, and the regression test replays every saved
// input through them in the ordinary test build.
//
// Each check returns a one-line description of what happened (for logs) when
// the input was handled acceptably, and throws CheckFailure when it was not.
// A crash, hang or sanitizer report is of course a failure as well.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace tessarin::fuzz {

class CheckFailure : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Silences RDKit's error log (the parser reports every bad SMILES on stderr).
void quiet_rdkit_logs();

// The bytes, as they are, taken for a SMILES string and run through the whole
// analysis: parsing, preparation, a short layout, the orbital graph, the LPI,
// soft bonds, fragments with ring double cuts and one generation of the
// multi-generation fragmentation. An unreadable SMILES and a clean error
// (one a Python caller sees as ValueError, IndexError, KeyError, TypeError or
// RuntimeError) are acceptable; so is a result that holds together. Where the
// graph is small enough, the soft bonds are also found again by dense counts
// and by the fragment engine on the whole molecule, and must agree.
std::string check_smiles_analysis(std::span<const std::uint8_t> bytes);

// The bytes decoded into a small weighted graph (see decode in the source),
// whose count-only LPI is checked: the constructor rejects non-finite weights
// and repeated pairs, every count partitions the nodes, the peeled count
// equals the dense one whenever peeling_applies() (whole graph, each single
// edge removed, an induced subgraph), the edge-removal screen's verdicts
// match the counts, and the fragment engine's fast path matches its dense one.
std::string check_graph_counts(std::span<const std::uint8_t> bytes);

}  // namespace tessarin::fuzz
