// The payloads of the batch's worker messages (worker_protocol.h): what the
// run sends a worker (its options, a molecule) and what comes back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/writers.h"

namespace tessarin::batch::wire {

std::string encode_configure(const PredictOptions& options, std::optional<OutputFormat> format);
void decode_configure(std::string_view payload, PredictOptions& options, std::optional<OutputFormat>& format);

std::string encode_molecule(const MoleculeInput& input);
MoleculeInput decode_molecule(std::string_view payload);

// The outcome of a processed molecule: failed or not, its error or formatted
// text, and the name and SMILES the worker settled (an SDF record's).
std::string encode_result(const Outcome& outcome);
void decode_result(std::string_view payload, Outcome& outcome);

}  // namespace tessarin::batch::wire
