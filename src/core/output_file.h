// A file written in whole records (spectra, table rows, the lines of an error
// file). Every failure is reported: opening throws UnusableFile, writing and
// closing FileAccessError, each naming the path and the system's reason. When
// a write fails (a full disk, a file-size limit), the file is cut back to the
// end of its last whole record before the failure is thrown, so that it never
// ends inside a record and a resumed run can go on from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::core {

class OutputFile {
 public:
  enum class Mode { create, append };

  // Creates (or empties) `path`, or with Mode::append writes after its end.
  // The path "-" is standard output (flushed, never closed, never cut).
  explicit OutputFile(std::string path, Mode mode = Mode::create);
  // Writes what is buffered and closes, reporting nothing (call close() to
  // know).
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // One whole record (or several); buffered.
  void write(std::string_view record);
  // Writes the buffered records out.
  void flush();
  void close();

  const std::string& path() const { return path_; }
  // Bytes of the file that hold whole records written so far (for standard
  // output, the bytes written).
  std::uint64_t size() const { return base_ + written_; }

 private:
  [[noreturn]] void fail(const char* what, int error);
  void write_out();

  std::string path_;
  int fd_ = -1;
  bool standard_output_ = false;
  bool closed_ = false;
  std::optional<std::string> failure_;  // the first failure, thrown again by later calls
  int failure_errno_ = 0;
  std::uint64_t base_ = 0;     // size of the file when it was opened
  std::uint64_t written_ = 0;  // bytes written after base_
  std::string buffer_;
  std::vector<std::size_t> record_ends_;  // where each buffered record ends in buffer_
};

}  // namespace tessarin::core
