// The progress line of a batch run on a terminal: molecules done, rate and
// the time left when the total is known.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "run/pipeline.h"

namespace tessarin::cli {

// "  1200/4999 [#####...............]  24%  410.3 mol/s  0:09 left  3 failed"
std::string progress_line(const run::BatchProgress& p, std::optional<std::size_t> total, int width = 20);

class ProgressBar {
 public:
  ProgressBar(std::FILE* out, std::optional<std::size_t> total) : out_(out), total_(total) {}
  void update(const run::BatchProgress& p);
  // Leaves the last state on its own line.
  void finish();

 private:
  std::FILE* out_;
  std::optional<std::size_t> total_;
  std::size_t last_length_ = 0;
  bool shown_ = false;
};

}  // namespace tessarin::cli
