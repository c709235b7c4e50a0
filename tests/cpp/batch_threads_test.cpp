// The analysis on many threads at once gives what it gives on one, and the
// batch driver agrees with the reporting driver.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/input.h"
#include "batch/spectrum.h"
#include "batch/writers.h"
#include "vif/analysis.h"

namespace tessarin::batch {
namespace {

std::vector<MoleculeInput> nci_molecules(std::size_t count) {
  std::ifstream in("/usr/share/RDKit/Data/NCI/first_5K.smi");
  MoleculeReader reader(in, InputFormat::smiles);
  std::vector<MoleculeInput> out;
  MoleculeInput m;
  while (out.size() < count && reader.next(m)) out.push_back(m);
  return out;
}

std::string analysed(const MoleculeInput& m, bool ring) {
  SpectrumOptions options;
  options.ring_fragmentation = ring;
  try {
    return jsonl_record(predict_spectrum(m.line, m.name, m.smiles, options, Deadline{}));
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
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

TEST(BatchThreads, BatchDriverAgreesWithTheReportingDriver) {
  const std::vector<MoleculeInput> mols = nci_molecules(40);
  for (std::size_t k = 0; k < mols.size(); ++k) {
    const MoleculeInput& m = mols[k];
    const bool recursive = k % 4 == 0;
    for (bool ring : {false, true}) {
      vif::VifOptions vo;
      vo.verbose = false;
      vo.ring_fragmentation = ring;
      vo.recursive_ms = recursive;
      std::ostringstream silent;
      const std::optional<vif::VifAnalysis> expected = vif::analyse_smiles(m.smiles, vo, silent);
      ASSERT_TRUE(expected.has_value()) << m.smiles;
      SpectrumOptions so;
      so.ring_fragmentation = ring;
      so.recursive = recursive;
      const vif::VifAnalysis got = analyse_with_deadline(m.smiles, so, Deadline{});
      EXPECT_EQ(got.lpi.counts.n_plus, expected->lpi.counts.n_plus) << m.smiles;
      EXPECT_EQ(got.lpi.counts.n_minus, expected->lpi.counts.n_minus) << m.smiles;
      EXPECT_EQ(got.lpi.eigenvalues, expected->lpi.eigenvalues) << m.smiles;
      EXPECT_EQ(got.mol_mass, expected->mol_mass);
      EXPECT_EQ(got.soft_bonds, expected->soft_bonds) << m.smiles;
      ASSERT_EQ(got.fragments.size(), expected->fragments.size()) << m.smiles;
      for (std::size_t i = 0; i < got.fragments.size(); ++i) {
        EXPECT_EQ(got.fragments[i].bond, expected->fragments[i].bond);
        EXPECT_EQ(got.fragments[i].fragments, expected->fragments[i].fragments);
      }
      EXPECT_EQ(got.recursive_peaks, expected->recursive_peaks) << m.smiles;
    }
  }
}

TEST(BatchThreads, DeadlineAndCancellationStopTheAnalysisBetweenSteps) {
  const std::string big = "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC(=O)OCC1=CC=CC=C1";
  EXPECT_THROW(analyse_with_deadline(big, SpectrumOptions{}, Deadline(1e-6, nullptr)), TimeLimitExceeded);
  std::atomic<bool> cancel{true};
  EXPECT_THROW(analyse_with_deadline(big, SpectrumOptions{}, Deadline(0, &cancel)), Cancelled);
  cancel = false;
  EXPECT_NO_THROW(analyse_with_deadline("CCO", SpectrumOptions{}, Deadline(60, &cancel)));
  EXPECT_THROW(analyse_with_deadline("C1CC", SpectrumOptions{}, Deadline{}), UnreadableSmiles);
}

}  // namespace
}  // namespace tessarin::batch
