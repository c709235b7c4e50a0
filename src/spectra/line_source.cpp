#include "spectra/line_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/errors.h"
#include "spectra/text.h"

namespace tessarin::spectra {
namespace {
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
}

LineSource::LineSource(std::string path) : path_(std::move(path)), buffer_(kBlockBytes) {
  if (path_ == "-") {
    file_ = stdin;
    return;
  }
  file_ = std::fopen(path_.c_str(), "rb");
  if (!file_) throw InvalidInput("cannot open " + path_ + ": " + std::strerror(errno));
  owned_ = true;
}

LineSource::~LineSource() {
  if (owned_ && file_) std::fclose(file_);
}

bool LineSource::fill() {
  if (eof_) return false;
  // Keep unread bytes at the front of the buffer.
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buffer_.size()) return true;
  const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  if (got == 0) {
    if (std::ferror(file_)) throw std::runtime_error("cannot read " + path_ + ": " + std::strerror(errno));
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

std::string_view LineSource::head(std::size_t n) {
  while (end_ - pos_ < n && !eof_ && end_ < buffer_.size()) {
    if (!fill()) break;
  }
  return std::string_view(buffer_.data() + pos_, std::min(n, end_ - pos_));
}

const std::string* LineSource::next() {
  if (reuse_) {
    reuse_ = false;
    return &line_;
  }
  raw_.clear();
  std::size_t length = 0;
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !fill()) {
      if (!any) return nullptr;
      break;
    }
    any = true;
    const char* start = buffer_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    const void* nl = std::memchr(start, '\n', avail);
    const std::size_t take = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : avail;
    if (raw_.size() < kMaxLineBytes) raw_.append(start, std::min(take, kMaxLineBytes - raw_.size()));
    length += take;
    pos_ += nl ? take + 1 : take;
    if (nl) break;
  }
  truncated_ = length > kMaxLineBytes;
  if (!raw_.empty() && raw_.back() == '\r') raw_.pop_back();
  ++line_number_;
  if (line_number_ == 1 && raw_.compare(0, 3, "\xEF\xBB\xBF") == 0) raw_.erase(0, 3);  // byte-order mark
  if (text::is_ascii(raw_)) {
    line_.swap(raw_);
  } else {
    line_.clear();
    text::append_utf8(line_, raw_);
  }
  return &line_;
}

void LineSource::unread() { reuse_ = true; }

}  // namespace tessarin::spectra
