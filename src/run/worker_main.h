// The worker side of the worker processes: a program that serves the
// protocol (worker_protocol.h) on file descriptor 3, one request at a time.
// The command-line program serves it when started as `tessarin
// --batch-worker PID`, the Python package through its own small program;
// what a molecule request does is the service's, depictions are served here.
#pragma once

#include <functional>
#include <string_view>

#include "run/pipeline.h"

namespace tessarin::run {

// The first argument that makes a program serve the protocol.
inline constexpr std::string_view kWorkerArgument = "--batch-worker";

// What a worker does with the requests of a run.
struct WorkerService {
  // A configure message: the options of every molecule that follows. Throws
  // std::runtime_error for a payload it cannot read.
  std::function<void(std::string_view payload)> configure;
  // A molecule: fills the outcome (its text or error), telling `on_step` the
  // step of the analysis under way whenever it changes.
  std::function<void(Outcome& outcome, const std::function<void(std::string_view step)>& on_step)> analyse;
};

// Serves requests until the run's process closes the channel or ends, and
// returns the exit status. `args` are the arguments after kWorkerArgument:
// the id of the process that started it. Ctrl-C, SIGTERM and SIGHUP are left
// to that process, which stops its workers itself; the worker is the first
// choice of the kernel's out-of-memory killer.
int run_worker(int argc, const char* const* args, const WorkerService& service);

}  // namespace tessarin::run
