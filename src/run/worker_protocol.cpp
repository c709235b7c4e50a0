#include "run/worker_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tessarin::run::wire {
namespace {

constexpr std::size_t kHeader = 5;  // type byte and 32-bit length
constexpr std::uint64_t kMaxPayload = 0xFFFFFFFFu;

void put_le(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint64_t get_le(std::string_view in, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  return v;
}

bool is_known(char c) {
  switch (static_cast<Type>(c)) {
    case Type::configure:
    case Type::molecule:
    case Type::depict:
    case Type::step:
    case Type::result:
    case Type::depiction:
      return true;
  }
  return false;
}

// Reads exactly `n` bytes; false when the file ends before the first byte.
bool read_exact(int fd, char* out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, out + got, n - got);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
    } else if (r == 0) {
      if (got == 0) return false;
      throw std::runtime_error("a worker message was cut short");
    } else if (errno != EINTR) {
      throw std::runtime_error(std::string("cannot read a worker message: ") + std::strerror(errno));
    }
  }
  return true;
}

}  // namespace

PayloadWriter& PayloadWriter::byte(std::uint8_t v) {
  data_.push_back(static_cast<char>(v));
  return *this;
}

PayloadWriter& PayloadWriter::u64(std::uint64_t v) {
  put_le(data_, v, 8);
  return *this;
}

PayloadWriter& PayloadWriter::f64(double v) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof v);
  return u64(bits);
}

PayloadWriter& PayloadWriter::text(std::string_view s) {
  u64(s.size());
  data_.append(s);
  return *this;
}

std::string_view PayloadReader::take(std::size_t n) {
  if (data_.size() - pos_ < n) throw std::runtime_error("a worker message ends early");
  const std::string_view out = data_.substr(pos_, n);
  pos_ += n;
  return out;
}

std::uint8_t PayloadReader::byte() { return static_cast<std::uint8_t>(take(1)[0]); }

std::uint64_t PayloadReader::u64() { return get_le(take(8), 8); }

double PayloadReader::f64() {
  const std::uint64_t bits = u64();
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string PayloadReader::text() {
  const std::uint64_t n = u64();
  if (n > data_.size() - pos_) throw std::runtime_error("a worker message ends early");
  return std::string(take(static_cast<std::size_t>(n)));
}

bool write_frame(int fd, Type type, std::string_view payload) {
  if (payload.size() > kMaxPayload) throw std::runtime_error("a worker message is larger than 4 GiB");
  std::string frame;
  frame.reserve(kHeader + payload.size());
  frame.push_back(static_cast<char>(type));
  put_le(frame, payload.size(), 4);
  frame.append(payload);
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t w = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (w >= 0) {
      sent += static_cast<std::size_t>(w);
    } else if (errno == EPIPE || errno == ECONNRESET) {
      return false;
    } else if (errno != EINTR) {
      throw std::runtime_error(std::string("cannot write a worker message: ") + std::strerror(errno));
    }
  }
  return true;
}

std::optional<Frame> read_frame(int fd) {
  char header[kHeader];
  if (!read_exact(fd, header, kHeader)) return std::nullopt;
  if (!is_known(header[0])) throw std::runtime_error("a worker message of unknown type");
  Frame f;
  f.type = static_cast<Type>(header[0]);
  f.payload.resize(static_cast<std::size_t>(get_le(std::string_view(header + 1, 4), 4)));
  if (!f.payload.empty() && !read_exact(fd, f.payload.data(), f.payload.size())) {
    throw std::runtime_error("a worker message was cut short");
  }
  return f;
}

std::optional<Frame> FrameBuffer::pop() {
  const std::size_t available = buffer_.size() - start_;
  if (available < kHeader) return std::nullopt;
  const std::string_view head(buffer_.data() + start_, kHeader);
  if (!is_known(head[0])) throw std::runtime_error("a worker message of unknown type");
  const auto length = static_cast<std::size_t>(get_le(head.substr(1), 4));
  if (available - kHeader < length) return std::nullopt;
  Frame f;
  f.type = static_cast<Type>(head[0]);
  f.payload.assign(buffer_, start_ + kHeader, length);
  start_ += kHeader + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > (1u << 20) && start_ * 2 > buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  return f;
}

}  // namespace tessarin::run::wire
