#include "batch/prediction_worker.h"

#include <stdexcept>

#include "run/worker_main.h"
#include "run/worker_protocol.h"

namespace tessarin::batch {

namespace wire {
namespace {

// Every field of the options crosses to the worker; a new field must be added
// to the messages below (and these sizes updated).
static_assert(sizeof(analysis::Options) == 40, "send every analysis option to the worker");
static_assert(sizeof(PredictOptions) == 56, "send every prediction option to the worker");

}  // namespace

std::string encode_configure(const PredictOptions& options, OutputFormat format) {
  const analysis::Options& a = options.analysis;
  run::wire::PayloadWriter w;
  w.byte(static_cast<std::uint8_t>(1 + static_cast<int>(format)))
      .i64(a.n_iter)
      .f64(a.target_bond_len)
      .f64(a.radius_ratio)
      .f64(a.bond_kappa)
      .byte(a.ring_fragmentation ? 1 : 0)
      .byte(a.recursive ? 1 : 0)
      .i64(a.max_generations)
      .f64(options.time_limit_seconds)
      .byte(static_cast<std::uint8_t>(options.model));
  return w.data();
}

void decode_configure(std::string_view payload, PredictOptions& options, OutputFormat& format) {
  run::wire::PayloadReader r(payload);
  const std::uint8_t f = r.byte();
  if (f == 0 || f > 1 + static_cast<int>(OutputFormat::mgf)) {
    throw std::runtime_error("a worker message names no known output format");
  }
  format = static_cast<OutputFormat>(f - 1);
  analysis::Options& a = options.analysis;
  a.n_iter = static_cast<int>(r.i64());
  a.target_bond_len = r.f64();
  a.radius_ratio = r.f64();
  a.bond_kappa = r.f64();
  a.ring_fragmentation = r.byte() != 0;
  a.recursive = r.byte() != 0;
  a.max_generations = static_cast<int>(r.i64());
  options.time_limit_seconds = r.f64();
  const std::uint8_t model = r.byte();
  if (model > static_cast<std::uint8_t>(prediction::Model::ei))
    throw std::runtime_error("a worker message names an unknown spectrum model");
  options.model = static_cast<prediction::Model>(model);
}

}  // namespace wire

int serve_prediction_worker(int argc, const char* const* args) {
  PredictOptions options;
  OutputFormat format = OutputFormat::jsonl;
  run::WorkerService service;
  service.configure = [&](std::string_view payload) { wire::decode_configure(payload, options, format); };
  service.analyse = [&](run::Outcome& o, const std::function<void(std::string_view)>& on_step) {
    process_molecule(o, options, format, nullptr, on_step);
  };
  return run::run_worker(argc, args, service);
}

}  // namespace tessarin::batch
