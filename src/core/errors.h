// Error types of the core. The Python bindings turn each into the exception a
// Python user expects: InvalidInput -> ValueError, IndexOutOfRange ->
// IndexError, MissingKey -> KeyError, WrongType -> TypeError,
// InsufficientMemory -> MemoryError.
#pragma once

#include <stdexcept>
#include <string>

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

}  // namespace tessarin
