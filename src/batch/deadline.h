// A cooperative stop for one molecule's analysis: the time limit of the
// molecule and the run-wide cancellation flag (Ctrl-C), checked by the
// analysis between its steps. A running step is never interrupted, so a limit
// is noticed at the end of the step that crosses it.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace tessarin::batch {

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

  // Throws Cancelled or TimeLimitExceeded; `step` names the step just done.
  void check(const char* step) const {
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) throw Cancelled("cancelled");
    if (end_ && Clock::now() > *end_) {
      throw TimeLimitExceeded("time limit exceeded (" + seconds_text() + " s, after " + step + ")");
    }
  }

 private:
  std::string seconds_text() const {
    std::string s = std::to_string(limit_seconds_);
    while (s.size() > 1 && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
  }

  const std::atomic<bool>* cancel_ = nullptr;
  double limit_seconds_ = 0;
  std::optional<Clock::time_point> end_;
};

}  // namespace tessarin::batch
