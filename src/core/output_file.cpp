#include "core/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/errors.h"

namespace tessarin::core {
namespace {

// Records are collected up to this size before they are written out.
constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

}  // namespace

OutputFile::OutputFile(std::string path, Mode mode) : path_(std::move(path)) {
  if (path_ == "-") {
    standard_output_ = true;
    return;
  }
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::append ? O_APPEND : O_TRUNC);
  fd_ = ::open(path_.c_str(), flags, 0666);
  if (fd_ < 0) {
    const int error = errno;
    throw UnusableFile("cannot create " + path_ + ": " + std::strerror(error), path_, error);
  }
  if (mode == Mode::append) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end > 0) base_ = static_cast<std::uint64_t>(end);
  }
}

OutputFile::~OutputFile() {
  if (closed_) return;
  try {
    write_out();
  } catch (const std::exception&) {
    // Reported by close() only; the file holds whole records either way.
  }
  if (fd_ >= 0) ::close(fd_);
}

void OutputFile::fail(const char* what, int error) {
  if (!failure_) {
    failure_ = std::string(what) + " " + path_ + ": " + std::strerror(error);
    failure_errno_ = error;
  }
  throw FileAccessError(*failure_, path_, failure_errno_);
}

void OutputFile::write(std::string_view record) {
  if (failure_) fail("cannot write", failure_errno_);
  if (closed_) throw FileAccessError("cannot write " + path_ + ": the file is closed", path_, EBADF);
  if (record.empty()) return;
  buffer_.append(record);
  record_ends_.push_back(buffer_.size());
  if (buffer_.size() >= kBufferBytes) write_out();
}

void OutputFile::flush() {
  if (failure_) fail("cannot write", failure_errno_);
  if (!closed_) write_out();
}

void OutputFile::write_out() {
  if (failure_) return;
  if (standard_output_) {
    const bool written = buffer_.empty() || std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) == buffer_.size();
    const bool flushed = std::fflush(stdout) == 0;
    written_ += buffer_.size();
    buffer_.clear();
    record_ends_.clear();
    if (!written || !flushed) fail("cannot write", errno);
    return;
  }
  std::size_t done = 0;
  int error = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (done == buffer_.size()) {
    written_ += done;
    buffer_.clear();
    record_ends_.clear();
    return;
  }
  // Keep the records that reached the file whole; cut off the rest.
  std::size_t whole = 0;
  for (std::size_t end : record_ends_) {
    if (end <= done) whole = end;
  }
  written_ += whole;
  buffer_.clear();
  record_ends_.clear();
  if (::ftruncate(fd_, static_cast<off_t>(base_ + written_)) != 0) {
    // The file cannot be cut (not a regular file): the failure to write is still the one to report.
  }
  fail("cannot write", error);
}

void OutputFile::close() {
  if (closed_) {
    if (failure_) fail("cannot write", failure_errno_);
    return;
  }
  try {
    write_out();
  } catch (const FileAccessError&) {
    closed_ = true;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw;
  }
  closed_ = true;
  if (failure_) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fail("cannot write", failure_errno_);
  }
  if (fd_ >= 0) {
    const int r = ::close(fd_);
    fd_ = -1;
    if (r != 0) fail("cannot close", errno);
  }
}

}  // namespace tessarin::core
