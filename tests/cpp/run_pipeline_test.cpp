// The ordered worker pool: input order under threads, the bounded window,
// cancellation and failures of reading and writing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "run/pipeline.h"

namespace tessarin::run {
namespace {

// Reads `count` molecules named "0", "1", ...
BatchCallbacks numbered(std::size_t count, std::size_t& next) {
  BatchCallbacks cb;
  cb.read = [count, &next](MoleculeInput& m) {
    if (next >= count) return false;
    m.name = std::to_string(next);
    m.line = ++next;
    return true;
  };
  return cb;
}

TEST(BatchPipeline, WritesInInputOrderWhateverOrderTheWorkersFinishIn) {
  std::size_t next = 0;
  BatchCallbacks cb = numbered(300, next);
  cb.process = [](Outcome& o) {
    // Uneven work so that later molecules often finish first.
    std::mt19937 rng(static_cast<unsigned>(o.index));
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
    if (o.index % 7 == 3) {
      throw std::runtime_error("bad");  // becomes the molecule's error
    } else {
      o.text = o.input.name;
    }
  };
  std::vector<std::size_t> order;
  std::size_t failures = 0;
  cb.write = [&](Outcome& o) {
    order.push_back(o.index);
    EXPECT_EQ(o.input.name, std::to_string(o.index));
    if (!o.succeeded()) {
      ++failures;
      EXPECT_EQ(o.error, "bad");
    }
  };
  std::atomic<bool> cancel{false};
  const BatchSummary s = run_batch(cb, 4, cancel, 16);
  ASSERT_EQ(order.size(), 300u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(s.written, 300u);
  EXPECT_EQ(s.failed, failures);
  EXPECT_EQ(failures, 43u);
  EXPECT_FALSE(s.cancelled);
}

TEST(BatchPipeline, NeverHoldsMoreThanTheWindowBetweenReadingAndWriting) {
  std::size_t next = 0;
  BatchCallbacks cb = numbered(200, next);
  std::atomic<std::size_t> written{0};
  std::atomic<std::size_t> worst{0};
  cb.read = [&next, &written, &worst](MoleculeInput& m) {
    if (next >= 200) return false;
    const std::size_t ahead = next - written.load();
    if (ahead > worst) worst = ahead;
    m.line = ++next;
    return true;
  };
  // The first molecule is slow: everything after it must wait in the window.
  cb.process = [](Outcome& o) {
    if (o.index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    o.text = "record";
  };
  cb.write = [&](Outcome&) { ++written; };
  std::atomic<bool> cancel{false};
  run_batch(cb, 3, cancel, 10);
  EXPECT_EQ(written.load(), 200u);
  // The window, plus the molecule in the reader's hand, plus one the writer
  // has taken but not yet counted.
  EXPECT_LE(worst.load(), 12u);
  EXPECT_GE(worst.load(), 10u);
}

TEST(BatchPipeline, ACancelledMoleculeEndsTheWrittenPrefix) {
  std::size_t next = 0;
  BatchCallbacks cb = numbered(40, next);
  std::atomic<bool> cancel{false};
  cb.process = [&cancel](Outcome& o) {
    if (o.index == 5) {
      cancel = true;
      throw Cancelled("cancelled");
    }
    o.text = "record";
  };
  std::vector<std::size_t> order;
  cb.write = [&](Outcome& o) { order.push_back(o.index); };
  const BatchSummary s = run_batch(cb, 1, cancel);
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(BatchPipeline, ReadAndWriteFailuresReachTheCallerAfterJoiningTheThreads) {
  {
    std::size_t next = 0;
    BatchCallbacks cb = numbered(10, next);
    auto inner = cb.read;
    cb.read = [inner, &next](MoleculeInput& m) {
      if (next == 4) throw std::runtime_error("cannot read the input (line 5)");
      return inner(m);
    };
    cb.process = [](Outcome& o) { o.text = "record"; };
    std::size_t written = 0;
    cb.write = [&](Outcome&) { ++written; };
    std::atomic<bool> cancel{false};
    EXPECT_THROW(run_batch(cb, 2, cancel), std::runtime_error);
    EXPECT_EQ(written, 4u);  // what was read before the failure is still written
  }
  {
    std::size_t next = 0;
    BatchCallbacks cb = numbered(1000, next);
    cb.process = [](Outcome& o) { o.text = "record"; };
    cb.write = [](Outcome& o) {
      if (o.index == 20) throw std::runtime_error("cannot write out.msp: No space left on device");
    };
    std::atomic<bool> cancel{false};
    EXPECT_THROW(run_batch(cb, 2, cancel), std::runtime_error);
  }
}

}  // namespace
}  // namespace tessarin::run
