// Error types of the core. The Python bindings turn each into the exception a
// Python user expects: InvalidInput -> ValueError, IndexOutOfRange ->
// IndexError, MissingKey -> KeyError, WrongType -> TypeError,
// InsufficientMemory -> MemoryError, and a FileError with the system's error
// number -> the OSError of that number (FileNotFoundError, IsADirectoryError,
// PermissionError, ...).
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace tessarin {

// A value that the function cannot work with (unknown element, bad number).
class InvalidInput : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// An atom, node or row index outside its container.
class IndexOutOfRange : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A record that lacks a member the function needs.
class MissingKey : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An argument of the wrong kind altogether.
class WrongType : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A computation refused up front because it cannot fit in this machine's memory.
class InsufficientMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a failure to use a file carries besides its message: the file, and the
// system's error number (errno: ENOENT, EISDIR, ENOSPC, ...), or 0 when the
// file could be used but does not hold what was asked for. Not an exception
// by itself: the exceptions below carry it, each under the base its callers
// already catch.
class FileError {
 public:
  FileError(std::string path, int error_number) : path_(std::move(path)), error_number_(error_number) {}
  virtual ~FileError() = default;
  const std::string& path() const noexcept { return path_; }
  int error_number() const noexcept { return error_number_; }

 private:
  std::string path_;
  int error_number_;
};

// A file that cannot be opened or created (missing, a directory, no
// permission), or that holds nothing the function can read: a bad path
// given as input.
class UnusableFile : public InvalidInput, public FileError {
 public:
  UnusableFile(const std::string& message, std::string path, int error_number)
      : InvalidInput(message), FileError(std::move(path), error_number) {}
};

// Reading or writing an open file failed (a read error, a full disk).
class FileAccessError : public std::runtime_error, public FileError {
 public:
  FileAccessError(const std::string& message, std::string path, int error_number)
      : std::runtime_error(message), FileError(std::move(path), error_number) {}
};

}  // namespace tessarin
