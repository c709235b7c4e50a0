// A C++ output stream that writes into Python's current sys.stdout, line by
// line, so that redirect_stdout, pytest's capture and notebooks see reports.
// Use only while holding the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <ostream>
#include <streambuf>
#include <string>

namespace tessarin::bindings {

class PythonStdoutBuffer : public std::streambuf {
 public:
  ~PythonStdoutBuffer() override {
    try {
      flush_pending();
    } catch (...) {
      // Nothing sensible to do with a failing stdout while unwinding.
    }
  }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    pending_.push_back(traits_type::to_char_type(ch));
    if (ch == '\n') flush_pending();
    return ch;
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) {
      pending_.push_back(s[i]);
      if (s[i] == '\n') flush_pending();
    }
    return n;
  }

  int sync() override {
    flush_pending();
    return 0;
  }

 private:
  void flush_pending() {
    if (pending_.empty()) return;
    // Hand the text over before writing: a failing write must not be retried.
    std::string text;
    text.swap(pending_);
    pybind11::module_::import("sys").attr("stdout").attr("write")(pybind11::str(text));
  }

  std::string pending_;
};

// An ostream over a PythonStdoutBuffer; errors raised by sys.stdout.write
// propagate out of the C++ write as pybind11::error_already_set.
class PythonStdout : public std::ostream {
 public:
  PythonStdout() : std::ostream(&buffer_) { exceptions(std::ios::badbit); }
  ~PythonStdout() override {
    try {
      buffer_.pubsync();
    } catch (...) {
      // Destructors must not throw; a caller that needs the error calls flush().
    }
  }

 private:
  PythonStdoutBuffer buffer_;
};

}  // namespace tessarin::bindings
