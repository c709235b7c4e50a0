// The analysis on many threads at once gives what it gives on one, and a
// molecule's time limit and the run's cancellation stop it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis.h"
#include "batch/library.h"
#include "batch/writers.h"
#include "run/input.h"

namespace tessarin::batch {
namespace {

using run::InputFormat;
using run::MoleculeInput;
using run::MoleculeReader;
using run::Outcome;

std::vector<MoleculeInput> nci_molecules(std::size_t count) {
  core::LineSource in("/usr/share/RDKit/Data/NCI/first_5K.smi");
  MoleculeReader reader(in, InputFormat::smiles);
  std::vector<MoleculeInput> out;
  MoleculeInput m;
  while (out.size() < count && reader.next(m)) out.push_back(m);
  return out;
}

std::string analysed(const MoleculeInput& m, bool ring) {
  Outcome o;
  o.input = m;
  PredictOptions options;
  options.analysis.ring_fragmentation = ring;
  process_molecule(o, options, OutputFormat::jsonl, nullptr);
  return o.succeeded() ? o.text : "error: " + o.error;
}

TEST(BatchThreads, ManyThreadsGiveTheSingleThreadedResults) {
  const std::vector<MoleculeInput> mols = nci_molecules(160);
  ASSERT_EQ(mols.size(), 160u);
  constexpr int kThreads = 8;
  std::vector<std::string> parallel(mols.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (std::size_t i; (i = next++) < mols.size();) parallel[i] = analysed(mols[i], i % 2 == 0);
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < mols.size(); ++i) {
    EXPECT_EQ(parallel[i], analysed(mols[i], i % 2 == 0)) << "line " << mols[i].line << ": " << mols[i].smiles;
  }
}

TEST(BatchThreads, TimeLimitAndCancellationStopTheAnalysis) {
  auto outcome = [](const std::string& smiles, double limit, const std::atomic<bool>* cancel) {
    Outcome o;
    o.input.smiles = smiles;
    PredictOptions options;
    options.time_limit_seconds = limit;
    process_molecule(o, options, OutputFormat::jsonl, cancel);
    return o;
  };
  const std::string big = "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC(=O)OCC1=CC=CC=C1";
  const Outcome late = outcome(big, 1e-6, nullptr);
  EXPECT_FALSE(late.succeeded());
  EXPECT_NE(late.error.find("time limit exceeded (0.000001 s, in "), std::string::npos) << late.error;
  std::atomic<bool> cancel{true};
  const Outcome stopped = outcome(big, 0, &cancel);
  EXPECT_TRUE(stopped.cancelled);
  EXPECT_FALSE(stopped.succeeded());
  cancel = false;
  EXPECT_TRUE(outcome("CCO", 60, &cancel).succeeded());
  EXPECT_EQ(outcome("C1CC", 0, nullptr).error, "SMILES Parse Error: unclosed ring for input: 'C1CC'");
}

}  // namespace
}  // namespace tessarin::batch
