// Every input that once made a fuzz target fail, replayed through the same
// check in the ordinary build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_checks.h"

namespace tessarin::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> saved_inputs(const std::string& target) {
  const fs::path dir = fs::path(TESSARIN_FUZZ_REGRESSIONS) / target;
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> read_bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Check>
void replay(const std::string& target, Check check) {
  const std::vector<fs::path> files = saved_inputs(target);
  ASSERT_FALSE(files.empty()) << "no saved inputs for " << target;
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> bytes = read_bytes(file);
    try {
      check(std::span<const std::uint8_t>(bytes));
    } catch (const CheckFailure& failure) {
      ADD_FAILURE() << file.filename() << ": " << failure.what();
    }
  }
}

TEST(FuzzRegressions, SmilesInputsAnalyseOrFailCleanly) {
  quiet_rdkit_logs();
  replay("smiles", check_smiles_analysis);
}

TEST(FuzzRegressions, GraphInputsCountAlike) { replay("graph_counts", check_graph_counts); }

}  // namespace
}  // namespace tessarin::fuzz
