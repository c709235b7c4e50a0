#include "run/depiction_worker.h"

#include <GraphMol/Conformer.h>
#include <GraphMol/MolPickler.h>
#include <GraphMol/ROMol.h>

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/errors.h"
#include "run/worker_protocol.h"

namespace tessarin::run {

std::vector<layout::Point2> depict_in_worker(RDKit::ROMol& mol, const WorkerCommand& command,
                                             const std::function<void()>& check) {
  std::string pickle;
  RDKit::MolPickler::pickleMol(mol, pickle);
  WorkerProcess worker(command);
  if (!worker.send(wire::Type::depict, pickle)) {
    throw std::runtime_error("the depiction worker ended at its start (" + worker.end_description() + ")");
  }
  std::exception_ptr stopped;
  auto stop = [&]() {
    try {
      if (check) check();
      return false;
    } catch (...) {
      stopped = std::current_exception();
      return true;
    }
  };
  wire::Frame frame;
  for (;;) {
    const WorkerProcess::Wait wait = worker.receive(frame, std::nullopt, stop);
    if (wait == WorkerProcess::Wait::stopped) {
      worker.kill();
      std::rethrow_exception(stopped);
    }
    if (wait == WorkerProcess::Wait::ended) {
      throw std::runtime_error("the depiction worker died (" + worker.end_description() + ")");
    }
    if (wait == WorkerProcess::Wait::frame && frame.type == wire::Type::depiction) break;
  }
  worker.finish();

  wire::PayloadReader r(frame.payload);
  const std::uint8_t status = r.byte();
  if (status != 0) {
    const std::string message = r.text();
    if (status == 1) throw InsufficientMemory(message);
    if (status == 2) throw InvalidInput(message);
    throw std::runtime_error(message);
  }
  const std::uint64_t n = r.u64();
  if (n != mol.getNumAtoms()) throw std::runtime_error("the depiction worker returned another number of atoms");
  auto conf = std::make_unique<RDKit::Conformer>(mol.getNumAtoms());
  std::vector<layout::Point2> coords(mol.getNumAtoms());
  for (unsigned i = 0; i < mol.getNumAtoms(); ++i) {
    const double x = r.f64();
    const double y = r.f64();
    const double z = r.f64();
    conf->setAtomPos(i, RDGeom::Point3D(x, y, z));
    coords[i] = layout::Point2{x, y};
  }
  conf->set3D(false);
  mol.clearConformers();
  mol.addConformer(conf.release(), true);
  return coords;
}

}  // namespace tessarin::run
