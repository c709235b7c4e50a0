// The batch run: one reader thread, `jobs` worker threads, and the calling
// thread writing the results in input order. At most `window` molecules (and
// the one the reader holds) are between reading and writing at any time, so
// memory stays bounded whatever the order in which the workers finish.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/deadline.h"
#include "run/input.h"
#include "spectra/spectrum.h"

namespace tessarin::run {

struct Outcome {
  std::size_t index = 0;  // 0-based position in the input
  MoleculeInput input;
  // The predicted spectrum, for the runs that score predictions rather than
  // write library records (the molecule succeeded when it or `text` is set).
  std::optional<spectra::Spectrum> spectrum;
  std::string error;       // why the molecule failed (spectrum and text empty)
  bool cancelled = false;  // the run stopped before the molecule was done
  // The molecule failed because its worker process was killed from outside
  // (the out-of-memory killer): the failure is not the molecule's, and
  // another try may succeed.
  bool worker_killed = false;
  std::string text;  // the molecule's library record, as formatted by the worker

  // A record's text or a spectrum, and no error.
  bool succeeded() const { return !cancelled && error.empty() && (spectrum.has_value() || !text.empty()); }
};

struct BatchProgress {
  std::size_t written = 0;  // molecules handed to `write`, failures included
  std::size_t failed = 0;
  std::size_t read = 0;
  bool input_done = false;
  double elapsed_seconds = 0;
};

struct BatchCallbacks {
  // Reader thread: the next molecule, false at the end. May throw; the run
  // then stops and run_batch rethrows after writing what was finished. A
  // reader still blocked in a read when the run is cancelled is left behind
  // (detached): what it reads from must then outlive the call.
  std::function<bool(MoleculeInput&)> read;
  // Worker threads: fill text, spectrum or error of the outcome. An escaping
  // exception becomes the molecule's error, except Cancelled, which marks
  // the outcome cancelled.
  std::function<void(Outcome&)> process;
  // Used instead of `process` when set: also told which worker thread calls,
  // 0 to jobs - 1, for a caller that keeps something per worker.
  std::function<void(Outcome&, unsigned worker)> process_by;
  // Calling thread, in input order; cancelled outcomes are never passed.
  std::function<void(Outcome&)> write;
  // Calling thread, about ten times a second and once at the end. May set
  // the cancel flag (Python checks for Ctrl-C here).
  std::function<void(const BatchProgress&)> progress;
};

struct BatchSummary {
  std::size_t written = 0;
  std::size_t failed = 0;
  bool cancelled = false;
  std::vector<std::size_t> killed_lines;  // input lines of the failures marked worker_killed
};

// Runs the batch. When `cancel` becomes true, no new molecule is started,
// molecules being analysed stop at their next step boundary, and the results
// finished so far are written up to the first one missing in input order.
// `jobs` 0 means one per core. `window` 0 means 1024 per job.
BatchSummary run_batch(const BatchCallbacks& callbacks, unsigned jobs, std::atomic<bool>& cancel,
                       std::size_t window = 0);

// Number of worker threads for `requested` (0: the number of cores).
unsigned effective_jobs(unsigned requested);

}  // namespace tessarin::run
