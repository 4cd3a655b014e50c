#include "platform/error.h"

#include <cstring>

namespace platform {

std::string system_error_text(int code) {
  char buf[256];
  // GNU strerror_r returns a pointer that may or may not be buf.
#if defined(_GNU_SOURCE) && !defined(__APPLE__)
  const char* text = strerror_r(code, buf, sizeof buf);
  return text ? std::string(text) : std::string();
#else
  if (strerror_r(code, buf, sizeof buf) != 0) return "error " + std::to_string(code);
  return buf;
#endif
}

void throw_file_error(const std::string& what, const std::string& path, int code) {
  throw FileError(what + " \"" + path + "\". " + system_error_text(code), code);
}

}  // namespace platform
