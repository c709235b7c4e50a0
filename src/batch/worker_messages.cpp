#include "batch/worker_messages.h"

#include <stdexcept>

#include "batch/worker_protocol.h"

namespace tessarin::batch::wire {
namespace {

// Every field of the options crosses to the worker; a new field must be added
// to the messages below (and these sizes updated).
static_assert(sizeof(analysis::Options) == 40, "send every analysis option to the worker");
static_assert(sizeof(PredictOptions) == 56, "send every prediction option to the worker");

}  // namespace

std::string encode_configure(const PredictOptions& options, std::optional<OutputFormat> format) {
  const analysis::Options& a = options.analysis;
  PayloadWriter w;
  w.byte(format ? static_cast<std::uint8_t>(1 + static_cast<int>(*format)) : 0)
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

void decode_configure(std::string_view payload, PredictOptions& options, std::optional<OutputFormat>& format) {
  PayloadReader r(payload);
  const std::uint8_t f = r.byte();
  if (f > 1 + static_cast<int>(OutputFormat::mgf))
    throw std::runtime_error("a worker message names an unknown output format");
  format = f == 0 ? std::nullopt : std::optional(static_cast<OutputFormat>(f - 1));
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

std::string encode_molecule(const MoleculeInput& m) {
  PayloadWriter w;
  w.u64(m.line).text(m.name).text(m.smiles).text(m.molblock).text(m.cas).text(m.id);
  return w.data();
}

MoleculeInput decode_molecule(std::string_view payload) {
  PayloadReader r(payload);
  MoleculeInput m;
  m.line = static_cast<std::size_t>(r.u64());
  m.name = r.text();
  m.smiles = r.text();
  m.molblock = r.text();
  m.cas = r.text();
  m.id = r.text();
  return m;
}

std::string encode_result(const Outcome& o) {
  PayloadWriter w;
  const bool ok = o.succeeded();
  w.byte(ok ? 1 : 0)
      .text(ok ? o.text : o.error)
      .text(o.input.name)
      .text(o.input.smiles)
      .text(o.input.cas)
      .text(o.input.id);
  return w.data();
}

void decode_result(std::string_view payload, Outcome& o) {
  PayloadReader r(payload);
  const bool ok = r.byte() != 0;
  std::string body = r.text();
  o.input.name = r.text();
  o.input.smiles = r.text();
  o.input.cas = r.text();
  o.input.id = r.text();
  o.record.reset();
  if (ok) {
    o.text = std::move(body);
    o.error.clear();
  } else {
    o.text.clear();
    o.error = body.empty() ? std::string("unknown failure") : std::move(body);
  }
}

}  // namespace tessarin::batch::wire
