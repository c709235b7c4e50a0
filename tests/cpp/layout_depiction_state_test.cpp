// A molecule's depiction is the one it gets as the first in a fresh process,
// whatever the process depicted or allocated before and whatever other threads
// depict at the same time.
#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "layout/atom_layout.h"
#include "layout/depiction_heap.h"

namespace tessarin::layout {
namespace {

// Metal complexes and fused polycycles whose depiction once followed the heap's
// layout, bridged ring systems (CoordGen's templates), a macrocycle, plain ones.
const char* const kMolecules[] = {
    "C12C3=C4C5=C1[Fe]23456789C%10C6=C7C8=C9%10",
    "CC1=[O+][Al]23([O+]=C(C)C1)([O+]=C(C)CC(=[O+]2)C)[O+]=C(C)CC(=[O+]3)C",
    "C1CN[Ni]23(N1)(NCCN2)NCCN3",
    "O=C1C[N+]23CC[N+]45CC(=O)O[Ni]24(O1)(OC(=O)C3)OC(=O)C5",
    "CC(=C)[CH]1CC[C]2(CO)CC[C]3(C)[CH](CC[CH]4[C]5(C)CC[CH](O)C(C)(C)[CH]5CC[C]34C)[CH]12",
    "C1C2CC3CC1CC(C2)C3",
    "C12C3C4C1C5C2C3C45",
    "O=C1CCCCCCCCCCCCCCCCCCCCC(=O)NCCN1",
    "CC(=O)Oc1ccccc1C(=O)O",
};

// Exact coordinates, as hexadecimal floats, of the molecule's depiction with hydrogens.
std::string depiction_text(const std::string& smiles) {
  std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles));
  RDKit::MolOps::addHs(*mol);
  std::string text;
  char line[80];
  for (const Point2& p : depict_2d(*mol)) {
    std::snprintf(line, sizeof line, "%a %a\n", p.x, p.y);
    text += line;
  }
  return text;
}

// This binary run with the variable set depicts that one molecule, prints it
// and exits before any test runs: the depiction of a fresh process.
constexpr const char* kAloneVariable = "TESSARIN_TEST_DEPICT_ALONE";
[[maybe_unused]] const bool kRunAsAloneChild = [] {
  if (const char* smiles = std::getenv(kAloneVariable)) {
    const std::string text = depiction_text(smiles);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
  }
  return false;
}();

std::string depicted_in_fresh_process(const std::string& smiles) {
  char exe[4096] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) throw std::runtime_error("no /proc/self/exe");
  FILE* child = ::popen((std::string(kAloneVariable) + "='" + smiles + "' '" + exe + "'").c_str(), "r");
  if (child == nullptr) throw std::runtime_error("popen failed");
  std::string text;
  char buf[4096];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, child)) > 0;) text.append(buf, got);
  if (::pclose(child) != 0 || text.empty())
    throw std::runtime_error("the fresh process depicting " + smiles + " failed");
  return text;
}

// Leaves the process heap in another layout: blocks of many sizes, freed in a shuffled order.
void churn_heap(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<void*> blocks(3000);
  for (void*& b : blocks) b = std::malloc(16 + rng() % 600);
  std::shuffle(blocks.begin(), blocks.end(), rng);
  for (std::size_t i = 0; i < blocks.size(); i += 2) std::free(blocks[i]);
  for (std::size_t i = 1; i < blocks.size(); i += 2) std::free(blocks[i]);
}

TEST(DepictionState, EveryMoleculeAsFirstInAFreshProcessAfterOthersBothWaysAndFromTwoThreads) {
  const std::size_t n = std::size(kMolecules);
  std::vector<std::string> alone;
  for (const char* smiles : kMolecules) alone.push_back(depicted_in_fresh_process(smiles));
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = pass == 0 ? k : n - 1 - k;
      churn_heap(static_cast<unsigned>(pass * n + k));
      EXPECT_EQ(depiction_text(kMolecules[i]), alone[i]) << (pass == 0 ? "forwards: " : "backwards: ") << kMolecules[i];
    }
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::string> got[2] = {std::vector<std::string>(n), std::vector<std::string>(n)};
    std::latch start(2);
    const auto depict_all = [&](int t) {
      start.arrive_and_wait();
      for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = t == 0 ? k : n - 1 - k;
        got[t][i] = depiction_text(kMolecules[i]);
      }
    };
    std::thread a(depict_all, 0), b(depict_all, 1);
    a.join();
    b.join();
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(got[0][i], alone[i]) << "round " << round << ", thread 0: " << kMolecules[i];
      EXPECT_EQ(got[1][i], alone[i]) << "round " << round << ", thread 1: " << kMolecules[i];
    }
  }
}

TEST(DepictionHeap, ReplayingTheSameCallsFromEmptyGivesTheSameOffsetsAndNoBlocksOverlap) {
  DepictionHeap heap(std::size_t{1} << 30);
  const auto replay = [&heap] {
    std::mt19937 rng(11);
    std::vector<std::pair<unsigned char*, std::size_t>> live;  // block, size; its bytes hold size % 251
    std::vector<std::ptrdiff_t> offsets;
    for (int step = 0; step < 6000; ++step) {
      if (!live.empty() && rng() % 3 == 0) {
        const auto k = static_cast<std::ptrdiff_t>(rng() % live.size());
        heap.release(live[k].first);
        live.erase(live.begin() + k);
        continue;
      }
      const std::size_t size = rng() % 50 == 0 ? (std::size_t{1} << 20) + rng() % 4096 : 1 + rng() % 3000;
      auto* p = static_cast<unsigned char*>(heap.allocate(size));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
      std::memset(p, static_cast<int>(size % 251), size);
      live.emplace_back(p, size);
      offsets.push_back(reinterpret_cast<char*>(p) - heap.base());
    }
    for (const auto& [p, size] : live)
      EXPECT_TRUE(std::all_of(p, p + size, [&](unsigned char c) { return c == size % 251; }));
    return offsets;
  };
  const std::vector<std::ptrdiff_t> first = replay();
  const std::size_t used = std::min<std::size_t>(heap.high_water(), std::size_t{8} << 20);
  heap.reset();
  EXPECT_TRUE(std::all_of(heap.base(), heap.base() + used, [](char c) { return c == 0; }));
  EXPECT_EQ(replay(), first);
  EXPECT_THROW(heap.allocate(std::size_t{1} << 31), std::bad_alloc);
  // A library whose blocks could not be told from the process heap's (RDKit's imports malloc) is refused.
  EXPECT_THROW(route_library_allocations("libRDKitGraphMol.so"), std::runtime_error);
}

}  // namespace
}  // namespace tessarin::layout
