#include "run/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tessarin::run {
namespace {

constexpr int kChannelFd = 3;
constexpr auto kStopInterval = std::chrono::milliseconds(50);

std::runtime_error system_error(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

// A close-on-exec copy of `fd` numbered 10 or above, so that the child's
// dup2 onto 3 never overwrites a descriptor it has yet to copy.
int high_descriptor(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  const int error = errno;
  ::close(fd);
  if (copy < 0) throw system_error("cannot start a worker process", error);
  return copy;
}

// Owns what posix_spawn needs until the call is over.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

WorkerProcess::WorkerProcess(const WorkerCommand& command) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw system_error("cannot start a worker process", errno);
  }
  int child_end = -1;
  try {
    channel_ = high_descriptor(ends[0]);
    ends[0] = -1;
    child_end = high_descriptor(ends[1]);
    ends[1] = -1;
  } catch (...) {
    for (int fd : {ends[0], ends[1], child_end}) {
      if (fd >= 0) ::close(fd);
    }
    close_channel();
    throw;
  }

  SpawnSetup setup;
  posix_spawn_file_actions_adddup2(&setup.actions, child_end, kChannelFd);
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, kChannelFd + 1);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> args;
  args.push_back(command.program);
  args.insert(args.end(), command.arguments.begin(), command.arguments.end());
  args.push_back(std::to_string(::getpid()));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int error =
      ::posix_spawn(&pid_, command.program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  ::close(child_end);
  if (error != 0) {
    pid_ = -1;
    close_channel();
    throw system_error("cannot start the worker program " + command.program, error);
  }
}

WorkerProcess::~WorkerProcess() {
  if (pid_ > 0 && !status_) kill();
  close_channel();
}

void WorkerProcess::close_channel() {
  if (channel_ >= 0) ::close(channel_);
  channel_ = -1;
}

bool WorkerProcess::send(wire::Type type, std::string_view payload) {
  if (channel_ < 0 || requests_closed_) return false;
  return wire::write_frame(channel_, type, payload);
}

WorkerProcess::Wait WorkerProcess::receive(wire::Frame& out, std::optional<Clock::time_point> until,
                                           const std::function<bool()>& stop) {
  char chunk[65536];
  for (;;) {
    if (std::optional<wire::Frame> f = buffer_.pop()) {
      out = std::move(*f);
      return Wait::frame;
    }
    if (channel_ < 0) return Wait::ended;
    if (stop && stop()) return Wait::stopped;
    auto wait = kStopInterval;
    if (until) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now());
      if (left.count() <= 0) return Wait::timed_out;
      if (!stop) wait = left;
      wait = std::min(wait, left);
    }
    pollfd p{channel_, POLLIN, 0};
    const int ready = ::poll(&p, 1, until || stop ? static_cast<int>(wait.count()) : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw system_error("cannot wait for a worker process", errno);
    }
    if (ready == 0) continue;
    const ssize_t n = ::read(channel_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno == ECONNRESET) {
      // A worker that dies with a request still unread resets the socket
      // instead of closing it: the same end of the worker.
      close_channel();
    } else if (errno != EINTR && errno != EAGAIN) {
      throw system_error("cannot read from a worker process", errno);
    }
  }
}

bool WorkerProcess::reap(std::chrono::milliseconds wait) {
  if (pid_ <= 0 || status_) return true;
  const auto end = Clock::now() + wait;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = status;
      return true;
    }
    if (r < 0 && errno != EINTR) {  // reaped by someone else: its status is lost
      status_ = -1;
      return true;
    }
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void WorkerProcess::kill() {
  if (pid_ <= 0 || status_) return;
  killed_here_ = true;
  ::kill(pid_, SIGKILL);
  close_channel();
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  status_ = r == pid_ ? status : -1;
}

void WorkerProcess::finish(std::chrono::milliseconds grace) {
  if (channel_ >= 0 && !requests_closed_) ::shutdown(channel_, SHUT_WR);
  requests_closed_ = true;
  if (!reap(grace)) kill();
  close_channel();
}

std::string WorkerProcess::end_description() {
  if (!reap(std::chrono::milliseconds(1000))) kill();
  close_channel();
  if (!status_ || *status_ == -1) return "ended";
  const int status = *status_;
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = ::strsignal(sig);
    return "killed by signal " + std::to_string(sig) + (name ? " (" + std::string(name) + ")" : std::string());
  }
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "ended";
}

bool WorkerProcess::killed_from_outside() const {
  return !killed_here_ && status_ && *status_ != -1 && WIFSIGNALED(*status_) && WTERMSIG(*status_) == SIGKILL;
}

}  // namespace tessarin::run
