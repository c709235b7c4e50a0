#include "run/worker_messages.h"

#include <stdexcept>

#include "run/worker_protocol.h"

namespace tessarin::run::wire {
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
  if (ok) {
    o.text = std::move(body);
    o.error.clear();
  } else {
    o.text.clear();
    o.error = body.empty() ? std::string("unknown failure") : std::move(body);
  }
}

}  // namespace tessarin::run::wire
