// The 2D depiction of a molecule in a worker process, for a caller that must
// be able to stop at any moment: the depiction runs inside CoordGen without a
// stop check and grows steeply with the molecule's size, but a process can be
// stopped whatever it is doing. A depiction does not depend on the process it
// is made in, so the coordinates are the ones layout::depict_2d gives here.
#pragma once

#include <functional>
#include <vector>

#include "layout/point2.h"
#include "run/worker_process.h"

namespace RDKit {
class ROMol;
}

namespace tessarin::run {

// Gives `mol` the conformer layout::depict_2d gives it and returns the atoms'
// coordinates, depicting in a process started from `command`. `check` is
// called about every 50 ms while the worker depicts; when it throws, the
// worker is stopped and the exception goes on to the caller. A failure of the
// depiction is thrown as it would be in this process (InsufficientMemory,
// InvalidInput, std::runtime_error); a worker that dies throws
// std::runtime_error.
std::vector<layout::Point2> depict_in_worker(RDKit::ROMol& mol, const WorkerCommand& command,
                                             const std::function<void()>& check);

}  // namespace tessarin::run
