// Fuzz harness: arbitrary bytes as worksheet XML, through the scanner and the CSV
// writer.
#include <cstddef>
#include <cstdint>

#include "sheets/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sheets::fuzz::sheet_xml_input(data, size);
  return 0;
}
