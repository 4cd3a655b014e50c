// The platform's exception class: every failure that the program reports as text
// (a result text, a log line) is an Exception or derives from it. Anything else
// that is thrown is a programming error and is not caught by the per-file handlers.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  const char* message() const noexcept { return what(); }
};

// A file-system failure; code is the errno value (0 when none applies).
class FileError : public Exception {
 public:
  FileError(const std::string& message, int code) : Exception(message), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// Message for an errno value, in the form the program shows to users.
std::string system_error_text(int code);

// Throws FileError("<what> \"<path>\". <system text>", code).
[[noreturn]] void throw_file_error(const std::string& what, const std::string& path, int code);

}  // namespace platform
