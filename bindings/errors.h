// Raising the Python exception of a failure to use a file.
#pragma once

#include <exception>

namespace tessarin::bindings {

// Raises the OSError of `failure`: for a FileError with the system's error
// number the subclass Python gives that number (FileNotFoundError,
// IsADirectoryError, PermissionError, ...) with the file's name, else an
// OSError with the failure's message.
[[noreturn]] void raise_os_error(const std::exception& failure);

}  // namespace tessarin::bindings
