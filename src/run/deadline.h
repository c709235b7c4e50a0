// The stop check of one molecule's analysis in a batch: the molecule's time
// limit and the run-wide cancellation flag (Ctrl-C), checked all through the
// analysis (analysis::StopCheck). RDKit's depiction and an eigenvalue solve
// run to their end, so a limit is noticed at the first check after it (a
// worker process is stopped from outside when it takes longer).
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessarin::run {

// The molecule ran past its time limit.
class TimeLimitExceeded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole run was cancelled while the molecule was being analysed.
class Cancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "time limit exceeded (5 s, in the atom layout)".
inline std::string time_limit_message(double limit_seconds, std::string_view step) {
  std::string s = std::to_string(limit_seconds);
  while (s.size() > 1 && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return "time limit exceeded (" + s + " s, in " + std::string(step) + ")";
}

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  Deadline() = default;
  // `limit_seconds` <= 0 means no limit; `cancel` may be null.
  Deadline(double limit_seconds, const std::atomic<bool>* cancel) : cancel_(cancel), limit_seconds_(limit_seconds) {
    if (limit_seconds > 0) {
      end_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit_seconds));
    }
  }

  // Throws Cancelled or TimeLimitExceeded; `step` names the step under way.
  void check(std::string_view step) const {
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) throw Cancelled("cancelled");
    if (end_ && Clock::now() > *end_) {
      throw TimeLimitExceeded(time_limit_message(limit_seconds_, step));
    }
  }

 private:
  const std::atomic<bool>* cancel_ = nullptr;
  double limit_seconds_ = 0;
  std::optional<Clock::time_point> end_;
};

}  // namespace tessarin::run
