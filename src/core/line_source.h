// Lines of a text file for every reader of the engine: spectrum files,
// molecule files, and the library files a resumed run scans. The file may be
// plain or gzip-compressed (read as what it compresses), and its lines may
// end in LF, CRLF or CR (old Mac files) alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::core {

class LineSource {
 public:
  // Longest line kept; the rest of a longer line is skipped and the line is
  // flagged as truncated (binary junk must not fill the memory).
  static constexpr std::size_t kMaxLineBytes = std::size_t{64} << 20;

  enum class Text {
    bytes,  // lines as the file has them
    utf8,   // bytes that are not UTF-8 read as Latin-1 (text::append_utf8)
  };

  struct Options {
    Text text = Text::bytes;
    // Where to start: a byte offset into an uncompressed file and the number
    // of lines before it (a reader going on from where another stopped).
    std::uint64_t offset = 0;
    std::size_t lines_before = 0;
  };

  // Opens `path` ("-": standard input). Throws UnusableFile naming the path
  // and the system's reason when it cannot be opened or is a directory.
  LineSource(const std::string& path, Options options);
  explicit LineSource(const std::string& path);
  // The lines of `text` (input held in memory), reported under `name`.
  static LineSource of_text(std::string text, std::string name, Text mode = Text::bytes);

  ~LineSource();
  LineSource(LineSource&&) noexcept;
  LineSource& operator=(LineSource&&) noexcept;

  // The next line without its line break, a byte-order mark at the start of
  // the file removed; nullptr at the end of the file. The pointer stays valid
  // until the next call. Throws FileAccessError when the file cannot be read
  // or decompressed.
  const std::string* next();

  // Makes the next call of next() return the current line again.
  void unread();

  // Line number (1-based) of the line last returned.
  std::size_t line_number() const { return line_number_; }
  // The line last returned was longer than kMaxLineBytes (and is cut).
  bool truncated() const { return truncated_; }
  // The line last returned ended in a line break (not the end of the file).
  bool line_ended() const { return line_ended_; }
  // Bytes of the (uncompressed) input consumed up to the end of the line last
  // returned, its line break included.
  std::uint64_t offset() const { return offset_; }
  const std::string& path() const { return path_; }
  // The file is gzip-compressed.
  bool compressed() const;

  // Up to `n` bytes of what follows the line last returned (decompressed),
  // without consuming them: for telling a format from the content.
  std::string_view head(std::size_t n);

 private:
  struct Input;
  LineSource(std::string path, std::unique_ptr<Input> input, Text text, std::size_t lines_before, std::uint64_t offset);
  bool fill();

  std::string path_;
  std::unique_ptr<Input> input_;
  Text text_ = Text::bytes;
  bool eof_ = false;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::size_t next_lf_ = 0;  // position of the next LF at or after pos_ (end_: none before end_)
  bool next_lf_known_ = false;
  std::string raw_;
  std::string line_;
  std::size_t line_number_ = 0;
  std::uint64_t offset_ = 0;
  bool at_start_ = true;  // nothing read yet from the start of the file
  bool truncated_ = false;
  bool line_ended_ = false;
  bool reuse_ = false;
};

}  // namespace tessarin::core
