#include "common.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessarin::cli {
namespace {

std::atomic<bool> g_stop_requested{false};
std::atomic<int> g_stop_signal{0};  // the first signal received
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

extern "C" void on_stop_signal(int signal_number) {
  int first = 0;
  if (!g_stop_signal.compare_exchange_strong(first, signal_number)) {
    // A second signal: stop at once.
    _exit(128 + signal_number);
  }
  g_stop_requested.store(true);
}

}  // namespace

void install_stop_handler() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

std::string stop_signal_name() {
  switch (g_stop_signal.load()) {
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "SIGINT";
  }
}

std::atomic<bool>& stop_requested() { return g_stop_requested; }

int stop_exit_status() {
  const int signal_number = g_stop_signal.load();
  return signal_number == 0 ? kExitInterrupted : 128 + signal_number;
}

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void check_output_path(const std::string& option, const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string why = option + ": cannot write " + path + ": ";
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0) throw UsageError(why + "no such directory " + directory);
  if (!S_ISDIR(st.st_mode)) throw UsageError(why + directory + " is not a directory");
  if (::access(directory.c_str(), W_OK | X_OK) != 0) throw UsageError(why + "the directory is not writable");
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw UsageError(why + "it is a directory");
  if (::stat(path.c_str(), &st) == 0 && ::access(path.c_str(), W_OK) != 0) {
    throw UsageError(why + "the file is not writable");
  }
}

}  // namespace tessarin::cli
