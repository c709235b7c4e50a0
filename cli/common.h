// What the subcommands of the tessarin program share outside the argument
// parser: exit statuses, the signals that stop a batch run, file checks.
#pragma once

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "spectra/spectrum.h"

namespace tessarin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // molecules failed, analysis error, validation failed
inline constexpr int kExitUsage = 2;          // bad arguments, unreadable input, unwritable output
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT

// A problem with the arguments found after parsing (an output that would
// overwrite the input, a file that cannot be opened): reported as
// "tessarin: <message>" with exit status kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Stopping a batch run from outside. After install_stop_handler() the first
// Ctrl-C (SIGINT), SIGTERM (a batch system's end of the job's time) or SIGHUP
// (a closed terminal) sets stop_requested(), so the run can finish its file
// cleanly; a second one ends the process at once. The exit status of a
// stopped run is stop_exit_status(): 128 + the number of the first signal
// (130, 143, 129), which stop_signal_name() names.
void install_stop_handler();
std::atomic<bool>& stop_requested();
int stop_exit_status();
std::string stop_signal_name();

// True for an existing regular file (not a pipe, a device or a directory).
bool is_regular_file(const std::string& path);

// True when `a` and `b` name one existing file (so writing one would destroy the other).
bool same_file(const std::string& a, const std::string& b);

// Record `n` (1-based) of a spectrum file; UsageError when it cannot be read
// or the file holds fewer (identify_command.cpp).
spectra::Spectrum read_record(const std::string& path, std::size_t n);

// Throws UsageError ("--plot: cannot write /missing/p.png: no such directory
// /missing") unless a file can be written at `path`: its directory exists
// and is writable, and the path is not a directory. Checked before any work,
// for outputs written only at the end.
void check_output_path(const std::string& option, const std::string& path);

}  // namespace tessarin::cli
