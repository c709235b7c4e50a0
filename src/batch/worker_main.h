// The worker side of the batch's worker processes: a program that serves the
// protocol (worker_protocol.h) on file descriptor 3, one request at a time.
// The command-line program serves it when started as `tessarin
// --batch-worker PID`, the Python package through its own small program.
#pragma once

#include <string_view>

namespace tessarin::batch {

// The first argument that makes a program serve the protocol.
inline constexpr std::string_view kWorkerArgument = "--batch-worker";

// Serves requests until the batch process closes the channel or ends, and
// returns the exit status. `args` are the arguments after kWorkerArgument:
// the id of the process that started it. Ctrl-C, SIGTERM and SIGHUP are left
// to that process, which stops its workers itself; the worker is the first
// choice of the kernel's out-of-memory killer.
int run_worker(int argc, const char* const* args);

}  // namespace tessarin::batch
