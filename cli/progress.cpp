#include "progress.h"

#include <algorithm>
#include <cmath>

namespace tessarin::cli {
namespace {

std::string clock_text(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

}  // namespace

std::string progress_line(const run::BatchProgress& p, std::optional<std::size_t> total, int width) {
  const double rate = p.elapsed_seconds > 0 ? static_cast<double>(p.written) / p.elapsed_seconds : 0.0;
  char buf[64];
  std::string out = "  ";
  out += std::to_string(p.written);
  if (total && *total > 0) {
    const std::size_t done = std::min(p.written, *total);
    const double fraction = static_cast<double>(done) / static_cast<double>(*total);
    const int filled = static_cast<int>(fraction * width);
    out.append("/").append(std::to_string(*total)).append(" [");
    out.append(static_cast<std::size_t>(filled), '#').append(static_cast<std::size_t>(width - filled), '.');
    out += ']';
    std::snprintf(buf, sizeof buf, " %3d%%", static_cast<int>(fraction * 100));
    out += buf;
  } else {
    out += " molecules";
  }
  std::snprintf(buf, sizeof buf, "  %.1f mol/s", rate);
  out += buf;
  if (total && rate > 0 && p.written < *total) {
    out.append("  ").append(clock_text(static_cast<double>(*total - p.written) / rate)).append(" left");
  }
  if (p.failed > 0) out.append("  ").append(std::to_string(p.failed)).append(" failed");
  return out;
}

void ProgressBar::update(const run::BatchProgress& p) {
  std::string line = progress_line(p, total_);
  const std::size_t length = line.size();
  if (length < last_length_) line.append(last_length_ - length, ' ');
  last_length_ = length;
  std::fputc('\r', out_);
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  shown_ = true;
}

void ProgressBar::finish() {
  if (shown_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  shown_ = false;
}

}  // namespace tessarin::cli
