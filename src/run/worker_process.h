// A worker process, seen from the process that runs the batch: started from a
// program that serves the worker protocol (run_worker), fed requests and read
// with a time limit, and stopped at any moment, whatever it is doing.
//
// Workers are started with posix_spawn, which is safe from a process with
// threads (a Python interpreter, the batch's own threads): the new process
// runs the worker program from its start and shares no state with its parent.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/worker_protocol.h"

namespace tessarin::run {

// The program that serves the protocol, and the arguments that make it do so.
struct WorkerCommand {
  std::string program;                 // path of the executable
  std::vector<std::string> arguments;  // after the program name
};

class WorkerProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts the program with its end of a socket pair (requests in, replies
  // out) as file descriptor 3, standard input from /dev/null, standard output onto standard error,
  // no other descriptor of this process, an empty signal mask and the default
  // signal dispositions. Its last argument is this process's id (run_worker
  // ends when that process does). Throws std::runtime_error when it cannot start.
  explicit WorkerProcess(const WorkerCommand& command);
  ~WorkerProcess();  // kills the process unless it has ended
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  // False when the process is gone.
  bool send(wire::Type type, std::string_view payload);

  enum class Wait { frame, timed_out, stopped, ended };
  // The next frame from the process. Waits until `until` at most (nothing: no
  // limit); `stop`, when given, is asked every 50 ms and ends the wait when it
  // returns true. `ended`: the process closed its replies (it died).
  Wait receive(wire::Frame& out, std::optional<Clock::time_point> until, const std::function<bool()>& stop = {});

  // Stops the process at once (SIGKILL) and reaps it.
  void kill();
  // Closes its requests, so that it ends once idle, and reaps it; kills it
  // when it is still running after `grace`.
  void finish(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
  // After `ended`: how the process ended, e.g. "killed by signal 11
  // (Segmentation fault)" or "exit status 3"; reaps it.
  std::string end_description();
  // After end_description: the process was killed (SIGKILL) by someone else
  // than this object, as the kernel's out-of-memory killer kills: the end
  // says nothing of the request it was on.
  bool killed_from_outside() const;

  pid_t pid() const { return pid_; }

 private:
  void close_channel();
  bool reap(std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  int channel_ = -1;  // this process's end of the socket pair
  bool requests_closed_ = false;
  bool killed_here_ = false;  // kill() sent the SIGKILL
  wire::FrameBuffer buffer_;
  std::optional<int> status_;  // the wait status, once reaped
};

}  // namespace tessarin::run
