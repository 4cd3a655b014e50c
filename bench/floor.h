// The floor a sheet reader is measured against: inflating a sheet's XML out of the
// package and passing it through a bare expat parse that only counts elements.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct FloorResult {
  uint64_t xml_bytes = 0;  // inflated size of the sheet XML
  uint64_t elements = 0;   // start tags seen by expat
  bool ok = false;
  std::string error;
};

// Inflates the entry `entry` of the zip package at `path` in chunks and parses it.
FloorResult inflate_and_count(const std::string& path,
                              const std::string& entry = "xl/worksheets/sheet1.xml");

// Only the inflated size of the entry (from the central directory), 0 when absent.
uint64_t entry_size(const std::string& path,
                    const std::string& entry = "xl/worksheets/sheet1.xml");

}  // namespace bench
