// The body shared by the libFuzzer entry points: run one check, let an
// acceptable outcome pass (printed when TESSARIN_FUZZ_OUTCOMES is set), and
// abort on a failed check so that libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_checks.h"

namespace tessarin::fuzz {

template <typename Check>
int run_fuzz_check(Check check, const std::uint8_t* data, std::size_t size) {
  static const bool print_outcomes = std::getenv("TESSARIN_FUZZ_OUTCOMES") != nullptr;
  try {
    const std::string outcome = check(std::span<const std::uint8_t>(data, size));
    if (print_outcomes) std::fprintf(stderr, "outcome: %s\n", outcome.c_str());
  } catch (const CheckFailure& failure) {
    std::fprintf(stderr, "check failed: %s\n", failure.what());
    std::abort();
  }
  return 0;
}

}  // namespace tessarin::fuzz
