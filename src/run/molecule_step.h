// The frame of one molecule's work in a run of many: its time limit and the
// run's cancellation checked all through the analysis, and whatever the work
// throws turned into the molecule's error, so that one molecule never stops
// the run.
#pragma once

#include <atomic>
#include <functional>

#include "analysis/analysis.h"
#include "run/pipeline.h"

namespace tessarin::run {

// What RDKit and the engine set up on first use (depiction settings, element
// tables), done once, on the calling thread, before workers start.
void warm_up();

// The frame of every worker step that analyses a molecule: parses the SDF
// record if there is one, runs `work` with the stop check of a Deadline of
// the time limit (also stopping when `cancel` is set), and turns what it
// throws into the outcome's error (Cancelled: marks the outcome cancelled).
// A failed or cancelled outcome keeps no spectrum or text.
void guarded_step(Outcome& outcome, double time_limit_seconds, const std::atomic<bool>* cancel,
                  const std::function<void(const analysis::StopCheck&)>& work);

}  // namespace tessarin::run
