#include "run/worker_main.h"

#include <GraphMol/MolPickler.h>
#include <GraphMol/ROMol.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "core/errors.h"
#include "layout/atom_layout.h"
#include "run/worker_messages.h"
#include "run/worker_protocol.h"

namespace tessarin::run {
namespace {

constexpr int kChannel = 3;

// The depiction of a pickled molecule: status 0 and the conformer's points,
// or a failure kind (1 out of memory, 2 bad input, 3 anything else) and its message.
std::string depiction_reply(const std::string& pickle) {
  wire::PayloadWriter w;
  try {
    RDKit::ROMol mol;
    RDKit::MolPickler::molFromPickle(pickle, mol);
    layout::depict_2d(mol);
    const RDKit::Conformer& conf = mol.getConformer();
    w.byte(0).u64(mol.getNumAtoms());
    for (unsigned i = 0; i < mol.getNumAtoms(); ++i) {
      const RDGeom::Point3D& p = conf.getAtomPos(i);
      w.f64(p.x).f64(p.y).f64(p.z);
    }
    return w.data();
  } catch (const InsufficientMemory& e) {
    return wire::PayloadWriter().byte(1).text(e.what()).data();
  } catch (const std::bad_alloc&) {
    return wire::PayloadWriter().byte(1).text("out of memory in the depiction").data();
  } catch (const InvalidInput& e) {
    return wire::PayloadWriter().byte(2).text(e.what()).data();
  } catch (const std::exception& e) {
    return wire::PayloadWriter().byte(3).text(e.what()).data();
  }
}

// The worker goes before the process that started it when memory runs out.
void prefer_as_oom_victim() {
  if (std::FILE* f = std::fopen("/proc/self/oom_score_adj", "we")) {
    std::fputs("1000", f);
    std::fclose(f);
  }
}

}  // namespace

int run_worker(int argc, const char* const* args, const WorkerService& service) {
  if (argc < 1) {
    std::cerr << "tessarin: the batch worker needs the id of the process that runs the batch\n";
    return 2;
  }
  const long parent = std::strtol(args[0], nullptr, 10);
  // The run's process stops its workers; signals sent to the whole process
  // group (Ctrl-C, a scheduler's SIGTERM) are its to handle.
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) return 0;  // it ended already
  prefer_as_oom_victim();

  try {
    while (std::optional<wire::Frame> frame = wire::read_frame(kChannel)) {
      switch (frame->type) {
        case wire::Type::configure:
          service.configure(frame->payload);
          break;
        case wire::Type::molecule: {
          Outcome o;
          o.input = wire::decode_molecule(frame->payload);
          bool connected = true;
          service.analyse(o, [&connected](std::string_view step) {
            if (connected)
              connected = wire::write_frame(kChannel, wire::Type::step, wire::PayloadWriter().text(step).data());
          });
          if (!connected || !wire::write_frame(kChannel, wire::Type::result, wire::encode_result(o))) return 0;
          break;
        }
        case wire::Type::depict:
          if (!wire::write_frame(kChannel, wire::Type::depiction, depiction_reply(frame->payload))) return 0;
          break;
        default:
          std::cerr << "tessarin: the batch worker got a message it does not serve\n";
          return 2;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "tessarin: batch worker: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace tessarin::run
