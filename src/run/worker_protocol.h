// The messages between a batch run and its worker processes, over a socket
// pair: frames of a type byte, a 32-bit payload length and the payload, whose
// fields are fixed-width little-endian numbers and length-prefixed strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessarin::run::wire {

enum class Type : char {
  // run -> worker
  configure = 'C',  // the options of every molecule that follows
  molecule = 'M',   // one molecule to analyse
  depict = 'P',     // one prepared molecule (RDKit pickle) to depict
  // worker -> run
  step = 'S',       // the step of the analysis under way, whenever it changes
  result = 'R',     // the molecule's outcome
  depiction = 'D',  // the depicted conformer, or why there is none
};

struct Frame {
  Type type = Type::result;
  std::string payload;
};

class PayloadWriter {
 public:
  PayloadWriter& byte(std::uint8_t v);
  PayloadWriter& u64(std::uint64_t v);
  PayloadWriter& i64(std::int64_t v) { return u64(static_cast<std::uint64_t>(v)); }
  PayloadWriter& f64(double v);
  PayloadWriter& text(std::string_view s);
  const std::string& data() const { return data_; }

 private:
  std::string data_;
};

// Throws std::runtime_error when the payload ends before a field does.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view data) : data_(data) {}
  std::uint8_t byte();
  std::uint64_t u64();
  std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
  double f64();
  std::string text();
  bool at_end() const { return pos_ == data_.size(); }

 private:
  std::string_view take(std::size_t n);
  std::string_view data_;
  std::size_t pos_ = 0;
};

// Writes a whole frame to the socket `fd`, retrying after signals, without
// SIGPIPE. False when the other end is closed (its process is gone); throws
// std::runtime_error on any other failure.
bool write_frame(int fd, Type type, std::string_view payload);

// Blocking read of one whole frame; nothing at a clean end of file (before a
// frame starts). Throws std::runtime_error on a frame cut short or a failed read.
std::optional<Frame> read_frame(int fd);

// Frames from a non-blocking reader: bytes are appended as they arrive and
// whole frames taken off the front.
class FrameBuffer {
 public:
  void append(const char* data, std::size_t n) { buffer_.append(data, n); }
  std::optional<Frame> pop();
  bool empty() const { return buffer_.size() == start_; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;
};

}  // namespace tessarin::run::wire
