// libFuzzer target: arbitrary bytes as a SMILES string through the whole analysis.
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tessarin::fuzz::quiet_rdkit_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tessarin::fuzz::run_fuzz_check(tessarin::fuzz::check_smiles_analysis, data, size);
}
