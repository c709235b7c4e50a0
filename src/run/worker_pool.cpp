#include "run/worker_pool.h"

#include <chrono>
#include <optional>
#include <stdexcept>

#include "run/deadline.h"
#include "run/worker_messages.h"
#include "run/worker_protocol.h"

namespace tessarin::run {
namespace {

// How long past its limit a worker may take before it is stopped: time for
// the analysis to notice the limit itself, and name the step, at a check.
std::chrono::steady_clock::duration hard_limit(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds * 1.05 + 0.2));
}

}  // namespace

// One job's worker process, started again after it dies or is stopped.
class WorkerPool::Slot {
 public:
  Slot(const WorkerCommand& command, std::string configuration, double time_limit)
      : command_(command), configuration_(std::move(configuration)), time_limit_(time_limit) {}

  void start() {
    process_ = std::make_unique<WorkerProcess>(command_);
    if (!process_->send(wire::Type::configure, configuration_)) {
      const std::string how = process_->end_description();
      process_.reset();
      throw std::runtime_error("the worker program " + command_.program + " ended at its start (" + how + ")");
    }
  }

  void analyse(Outcome& o, const std::atomic<bool>& cancel) {
    const std::string request = wire::encode_molecule(o.input);
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {  // a worker found dead is replaced once
      if (!process_) start();
      sent = process_->send(wire::Type::molecule, request);
      if (!sent) process_.reset();
    }
    if (!sent) {
      o.error = "the worker process ended before it could take the molecule";
      return;
    }
    std::optional<WorkerProcess::Clock::time_point> until;
    if (time_limit_ > 0) until = WorkerProcess::Clock::now() + hard_limit(time_limit_);
    std::string step = "the preparation";
    wire::Frame frame;
    for (;;) {
      switch (process_->receive(frame, until, [&cancel] { return cancel.load(); })) {
        case WorkerProcess::Wait::frame:
          if (frame.type == wire::Type::step) {
            step = wire::PayloadReader(frame.payload).text();
            continue;
          }
          if (frame.type != wire::Type::result) break;
          wire::decode_result(frame.payload, o);
          return;
        case WorkerProcess::Wait::timed_out:
          process_.reset();  // killed
          o.error = time_limit_message(time_limit_, step);
          return;
        case WorkerProcess::Wait::stopped:
          process_.reset();
          o.cancelled = true;
          return;
        case WorkerProcess::Wait::ended: {
          const std::string how = process_->end_description();
          o.worker_killed = process_->killed_from_outside();
          process_.reset();
          o.error = "the worker process died analysing the molecule (" + how +
                    (o.worker_killed ? " from outside" : "") + ", in " + step + ")";
          return;
        }
      }
      process_.reset();
      o.error = "the worker process sent an unexpected message";
      return;
    }
  }

  // Lets an idle worker end by itself.
  void finish() {
    if (process_) process_->finish();
    process_.reset();
  }

 private:
  WorkerCommand command_;
  std::string configuration_;
  double time_limit_;
  std::unique_ptr<WorkerProcess> process_;
};

WorkerPool::WorkerPool(const WorkerCommand& command, unsigned jobs, std::string configuration,
                       double time_limit_seconds) {
  for (unsigned i = 0; i < jobs; ++i) {
    slots_.push_back(std::make_unique<Slot>(command, configuration, time_limit_seconds));
    slots_.back()->start();
  }
}

WorkerPool::~WorkerPool() = default;

void WorkerPool::analyse(Outcome& outcome, unsigned worker, const std::atomic<bool>& cancel) {
  slots_.at(worker)->analyse(outcome, cancel);
}

void WorkerPool::finish() {
  for (auto& slot : slots_) slot->finish();
}

}  // namespace tessarin::run
