#include "scheduler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "common.h"

extern char** environ;

namespace tessarin::cli {
namespace {

// The descriptor the driver writes its reply to.
constexpr int kReplyChannel = 3;

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Writes all of `text` to `fd` without SIGPIPE; false when the reader is gone.
bool write_all(int fd, const std::string& text) {
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &saved);
  std::size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  sigaction(SIGPIPE, &saved, nullptr);
  return ok;
}

}  // namespace

void add_scheduler_options(CLI::App& command, SchedulerOptions& options, bool predict) {
  command.add_option("--scheduler", options.address, "hand the run to the Dask scheduler at this address (host:port)")
      ->type_name("ADDRESS")
      ->check(not_empty());
  if (!predict) return;
  command.add_option("--chunk-size", options.chunk_size, "molecules per task on the cluster (with --scheduler)")
      ->type_name("N")
      ->check(whole_number(1, 1'000'000'000))
      ->default_str("1000");
  command.add_option("--work-dir", options.work_dir, "the cluster's shards and manifest (with --scheduler)")
      ->type_name("DIR")
      ->check(not_empty())
      ->default_str("OUTPUT.shards");
}

DriverReply run_on_scheduler(const nlohmann::json& request) {
  // The interpreter and package as for the plots of `identify --plot`.
  const char* chosen = std::getenv("TESSARIN_PYTHON");
  const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : TESSARIN_PLOT_PYTHON;
  const char* old_path = std::getenv("PYTHONPATH");
  const std::string path = std::string(TESSARIN_PACKAGE_ROOT) +
                           (old_path != nullptr && *old_path != '\0' ? std::string(":") + old_path : std::string());
  ::setenv("PYTHONPATH", path.c_str(), 1);

  int to_driver[2] = {-1, -1};
  int from_driver[2] = {-1, -1};
  if (::pipe2(to_driver, O_CLOEXEC) != 0 || ::pipe2(from_driver, O_CLOEXEC) != 0) {
    throw UsageError(std::string("cannot start the Dask driver: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_driver[0], 0);
  posix_spawn_file_actions_adddup2(&actions, 2, 1);  // stray output of the driver never mixes with a table
  posix_spawn_file_actions_adddup2(&actions, from_driver[1], kReplyChannel);
  std::vector<std::string> words = {python, "-m", "tessarin.dask"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::cout.flush();
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, python.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(to_driver[0]);
  close_fd(from_driver[1]);
  if (spawned != 0) {
    close_fd(to_driver[1]);
    close_fd(from_driver[0]);
    throw UsageError("cannot start " + python + " for --scheduler: " + std::strerror(spawned));
  }

  write_all(to_driver[1], request.dump() + "\n");  // a driver that ended early says why itself
  close_fd(to_driver[1]);

  // The reply, read while waiting; the first stop signal goes on to the driver.
  std::string reply;
  bool passed_on = false;
  char buffer[65536];
  while (from_driver[0] >= 0) {
    if (stop_requested().load() && !passed_on) {
      ::kill(pid, SIGINT);
      passed_on = true;
    }
    pollfd p{from_driver[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::read(from_driver[0], buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  close_fd(from_driver[0]);
  int status = 0;
  for (;;) {
    if (stop_requested().load() && !passed_on) {
      ::kill(pid, SIGINT);
      passed_on = true;
    }
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      status = 0;
      break;
    }
    ::usleep(20000);
  }

  DriverReply out;
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : kExitUsage;
  if (!reply.empty()) {
    try {
      out.reply = nlohmann::json::parse(reply);
    } catch (const nlohmann::json::exception&) {
      std::cerr << "tessarin: the Dask driver's reply is not JSON\n";
      out.status = kExitUsage;
    }
  }
  return out;
}

}  // namespace tessarin::cli
