// The extension's worker program (tessarin-worker, built beside the extension
// in the package), which predict_library and large depictions run in.
#pragma once

#include "run/worker_process.h"

namespace tessarin::bindings {

// The command that starts a worker; RuntimeError when the program is missing.
run::WorkerCommand worker_command();

}  // namespace tessarin::bindings
