// The worker processes of a run of many molecules, one per job: each started
// from a program that serves the worker protocol and configured once, then
// sent one molecule at a time. A time limit holds whatever step the molecule
// is in (the process is stopped at the limit, with a grace of 5 % + 0.2 s for
// the analysis to notice it first), a crash costs only the molecule it
// happened on, and cancelling stops every molecule at once.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "run/pipeline.h"
#include "run/worker_process.h"

namespace tessarin::run {

class WorkerPool {
 public:
  // Starts `jobs` workers from `command`, each sent `configuration` (the
  // payload of a configure message) first. Throws std::runtime_error when one
  // cannot start.
  WorkerPool(const WorkerCommand& command, unsigned jobs, std::string configuration, double time_limit_seconds);
  ~WorkerPool();  // stops the workers still running
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Worker `worker` (0 to jobs - 1, one caller at a time for each) analyses
  // the outcome's molecule: its result, or the error of a time limit or of a
  // worker that died (marked worker_killed when it was killed from outside),
  // or the outcome cancelled when `cancel` is set while it waits. A worker
  // that died or was stopped is started again for the next molecule.
  void analyse(Outcome& outcome, unsigned worker, const std::atomic<bool>& cancel);

  // Lets the idle workers end by themselves.
  void finish();

 private:
  class Slot;
  std::vector<std::unique_ptr<Slot>> slots_;
};

}  // namespace tessarin::run
