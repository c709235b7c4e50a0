// Runs handed to a Dask cluster: `tessarin predict ... --scheduler ADDRESS`
// and `tessarin search ... --scheduler ADDRESS` become
// `python3 -m tessarin.dask predict|search ...` with the same arguments.
// Without --scheduler nothing of this runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "arguments.h"

namespace tessarin::cli {

// Declares --scheduler (and --chunk-size, --work-dir for predict) on a
// command, for its help; the run itself is handed over by run_on_scheduler
// before the arguments are parsed here.
void add_scheduler_options(CLI::App& command, bool predict);

// When `args` (the arguments after the program name) are a predict or search
// command with --scheduler, replaces this process by the Python driver and
// returns only when that cannot start (with the exit status to use);
// otherwise returns nothing. The interpreter is $TESSARIN_PYTHON when set,
// else the one the program was built with; the package's directory goes
// first on PYTHONPATH.
std::optional<int> run_on_scheduler(const std::vector<std::string>& args);

}  // namespace tessarin::cli
