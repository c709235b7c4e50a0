#include "core/line_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/errors.h"
#include "core/text_encoding.h"

namespace tessarin::core {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 18;

std::string shown(const std::string& path) { return path == "-" ? std::string("standard input") : path; }

}  // namespace

// The file through zlib, which passes plain files through as they are; no
// file for text held in memory.
struct LineSource::Input {
  gzFile file = nullptr;
  ~Input() {
    if (file != nullptr) gzclose(file);
  }
};

LineSource::LineSource(std::string path, std::unique_ptr<Input> input, Text text, std::size_t lines_before,
                       std::uint64_t offset)
    : path_(std::move(path)),
      input_(std::move(input)),
      text_(text),
      line_number_(lines_before),
      offset_(offset),
      at_start_(offset == 0) {}

LineSource::LineSource(const std::string& path, Options options)
    : LineSource(path, std::make_unique<Input>(), options.text, options.lines_before, options.offset) {
  int fd = -1;
  if (path == "-") {
    fd = ::dup(STDIN_FILENO);
    if (fd < 0) throw UnusableFile("cannot read standard input: " + std::string(std::strerror(errno)), path, errno);
  } else {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      throw UnusableFile("cannot open " + path + ": " + std::strerror(error), path, error);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw UnusableFile("cannot read " + path + ": it is a directory", path, EISDIR);
    }
  }
  if (options.offset > 0 && ::lseek(fd, static_cast<off_t>(options.offset), SEEK_SET) < 0) {
    const int error = errno;
    ::close(fd);
    throw UnusableFile(
        "cannot read " + shown(path) + " from byte " + std::to_string(options.offset) + ": " + std::strerror(error),
        path, error);
  }
  input_->file = gzdopen(fd, "rb");
  if (input_->file == nullptr) {
    ::close(fd);
    throw UnusableFile("cannot read " + shown(path) + ": out of memory", path, ENOMEM);
  }
  gzbuffer(input_->file, 1 << 17);
  buffer_.resize(kBlockBytes);
}

LineSource::LineSource(const std::string& path) : LineSource(path, Options{}) {}

LineSource LineSource::of_text(std::string text, std::string name, Text mode) {
  LineSource source(std::move(name), std::make_unique<Input>(), mode, 0, 0);
  source.buffer_.assign(text.begin(), text.end());
  source.end_ = source.buffer_.size();
  source.eof_ = true;
  return source;
}

LineSource::~LineSource() = default;
LineSource::LineSource(LineSource&&) noexcept = default;
LineSource& LineSource::operator=(LineSource&&) noexcept = default;

bool LineSource::compressed() const { return input_->file != nullptr && gzdirect(input_->file) == 0; }

bool LineSource::fill() {
  if (eof_) return false;
  // Keep unread bytes at the front of the buffer.
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  next_lf_known_ = false;
  if (end_ == buffer_.size()) return true;
  const std::size_t want = std::min<std::size_t>(buffer_.size() - end_, INT_MAX);
  errno = 0;
  const int got = gzread(input_->file, buffer_.data() + end_, static_cast<unsigned>(want));
  const int error = errno;
  int code = Z_OK;
  const char* message = got <= 0 ? gzerror(input_->file, &code) : nullptr;
  if (got < 0 || code != Z_OK) {
    if (code == Z_ERRNO) {
      throw FileAccessError("cannot read " + shown(path_) + ": " + std::strerror(error), path_, error);
    }
    if (code == Z_BUF_ERROR) {
      throw FileAccessError("the compressed input " + shown(path_) + " ends early (cut short?)", path_, 0);
    }
    throw FileAccessError("cannot decompress " + shown(path_) + ": " + (message ? message : "damaged data"), path_, 0);
  }
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

std::string_view LineSource::head(std::size_t n) {
  while (end_ - pos_ < n && !eof_ && !(pos_ == 0 && end_ == buffer_.size())) {
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
  line_ended_ = false;
  std::size_t length = 0;
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !fill()) {
      if (!any) return nullptr;
      break;
    }
    any = true;
    if (!next_lf_known_ || next_lf_ < pos_) {
      const void* lf = std::memchr(buffer_.data() + pos_, '\n', end_ - pos_);
      next_lf_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data()) : end_;
      next_lf_known_ = true;
    }
    // A CR before the next LF ends the line too (CRLF, or CR alone).
    const void* cr = std::memchr(buffer_.data() + pos_, '\r', next_lf_ - pos_);
    const std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - buffer_.data()) : next_lf_;
    const std::size_t take = stop - pos_;
    if (raw_.size() < kMaxLineBytes) raw_.append(buffer_.data() + pos_, std::min(take, kMaxLineBytes - raw_.size()));
    length += take;
    pos_ = stop;
    offset_ += take;
    if (stop == end_) continue;  // no line break among the bytes read so far
    const char line_break = buffer_[pos_];
    ++pos_;
    ++offset_;
    line_ended_ = true;
    if (line_break == '\r') {
      if (pos_ == end_) fill();
      if (pos_ < end_ && buffer_[pos_] == '\n') {
        ++pos_;
        ++offset_;
      }
    }
    break;
  }
  truncated_ = length > kMaxLineBytes;
  ++line_number_;
  if (at_start_ && raw_.compare(0, 3, "\xEF\xBB\xBF") == 0) raw_.erase(0, 3);  // byte-order mark
  at_start_ = false;
  if (text_ == Text::bytes || is_ascii(raw_)) {
    line_.swap(raw_);
  } else {
    line_.clear();
    append_utf8(line_, raw_);
  }
  return &line_;
}

void LineSource::unread() { reuse_ = true; }

}  // namespace tessarin::core
