// The worker processes' side of predicting a library: the options a run
// sends each worker (its configure message) and the service that predicts
// every molecule sent after them.
#pragma once

#include <string>
#include <string_view>

#include "batch/library.h"
#include "batch/writers.h"

namespace tessarin::batch {

namespace wire {

std::string encode_configure(const PredictOptions& options, OutputFormat format);
// Throws std::runtime_error for a payload that names no known format or model.
void decode_configure(std::string_view payload, PredictOptions& options, OutputFormat& format);

}  // namespace wire

// Serves the worker protocol for predict_library's worker processes (see
// run_worker): what a program runs when started with kWorkerArgument.
int serve_prediction_worker(int argc, const char* const* args);

}  // namespace tessarin::batch
