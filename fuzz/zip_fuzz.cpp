// Fuzz harness: arbitrary bytes as a zip package.
#include <cstddef>
#include <cstdint>

#include "sheets/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sheets::fuzz::zip_input(data, size);
  return 0;
}
