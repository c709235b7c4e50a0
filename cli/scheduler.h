// Runs handed to a Dask cluster: `tessarin predict ... --scheduler ADDRESS`
// and `tessarin search ... --scheduler ADDRESS` parse their arguments as
// always, then hand the request (its JSON form) to the package's Dask driver,
// `python3 -m tessarin.dask`, and wait for its reply, which they report and
// write as a run on this machine would. Without --scheduler nothing of this
// runs and no Python starts.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>

#include "arguments.h"

namespace tessarin::cli {

struct SchedulerOptions {
  std::string address;  // empty: run on this machine
  std::size_t chunk_size = 1000;
  std::string work_dir;  // empty: OUTPUT.shards
};

// Declares --scheduler (and --chunk-size, --work-dir for predict) on a command.
void add_scheduler_options(CLI::App& command, SchedulerOptions& options, bool predict);

struct DriverReply {
  int status = 0;                       // the driver's exit status (128 + signal when stopped)
  std::optional<nlohmann::json> reply;  // its answer, when it finished the request
};

// Starts the driver with `request` on its standard input (its standard
// output goes to standard error; its reply comes on file descriptor 3) and
// waits for it. The interpreter is $TESSARIN_PYTHON when set, else the one
// the program was built with; the package's directory goes first on
// PYTHONPATH. The driver reports its own failures on standard error. The
// first Ctrl-C, SIGTERM or SIGHUP is passed on to it (install_stop_handler
// must have been called); it then stops the cluster's work and ends. Throws
// UsageError when the driver cannot start.
DriverReply run_on_scheduler(const nlohmann::json& request);

}  // namespace tessarin::cli
