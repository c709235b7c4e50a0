// Lines of a text file read in large blocks, for the spectrum readers.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::spectra {

class LineSource {
 public:
  // Longest line kept; the rest of a longer line is skipped and the line is
  // flagged as truncated (binary junk must not fill the memory).
  static constexpr std::size_t kMaxLineBytes = std::size_t{64} << 20;

  // Opens `path` ("-": standard input). Throws InvalidInput naming the path
  // and the system's reason when it cannot be opened.
  explicit LineSource(std::string path);
  ~LineSource();
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;

  // The next line without its line break (LF or CRLF), as UTF-8 (bytes that
  // are not UTF-8 read as Latin-1); nullptr at the end of the file. The
  // pointer stays valid until the next call. Throws std::runtime_error on a
  // read error.
  const std::string* next();

  // Makes the next call of next() return the current line again.
  void unread();

  // Line number (1-based) of the line last returned.
  std::size_t line_number() const { return line_number_; }
  bool truncated() const { return truncated_; }
  const std::string& path() const { return path_; }

  // Up to `n` bytes from the start of the file, before any line is read (for
  // telling the format from the content).
  std::string_view head(std::size_t n);

 private:
  bool fill();

  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  bool eof_ = false;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::string raw_;
  std::string line_;
  std::size_t line_number_ = 0;
  bool truncated_ = false;
  bool reuse_ = false;
};

}  // namespace tessarin::spectra
