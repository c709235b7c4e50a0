// libFuzzer target: arbitrary small weighted graphs through the count-only LPI.
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tessarin::fuzz::run_fuzz_check(tessarin::fuzz::check_graph_counts, data, size);
}
