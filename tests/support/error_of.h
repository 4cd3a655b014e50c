// The message of the failure a piece of test code raises.
#pragma once

#include <functional>
#include <string>

namespace testkit {

// The message of the E that f throws, or "(no error)" when it throws nothing.
// Other exceptions pass through to the test.
template <class E>
std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace testkit
