// The payloads of the worker messages (worker_protocol.h) about a molecule:
// the molecule a run sends a worker and the outcome that comes back. The
// options a service takes in its configure message are the service's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "run/input.h"
#include "run/pipeline.h"

namespace tessarin::run::wire {

std::string encode_molecule(const MoleculeInput& input);
MoleculeInput decode_molecule(std::string_view payload);

// The outcome of a processed molecule: failed or not, its error or formatted
// text, and the name and SMILES the worker settled (an SDF record's).
std::string encode_result(const Outcome& outcome);
void decode_result(std::string_view payload, Outcome& outcome);

}  // namespace tessarin::run::wire
