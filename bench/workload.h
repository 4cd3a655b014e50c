// Deterministic benchmark workbooks: mixed columns of text (commas, quotes, line
// breaks, non-ASCII), integers, decimals with number formats, dates and Booleans.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct WorkloadShape {
  uint32_t rows = 100;
  uint32_t cols = 10;  // 1..12
  uint64_t seed = 1;
};

// Writes one workbook with a single sheet of the given shape; returns false (with
// a message on stderr) when it cannot be written.
bool write_workload(const std::string& path, const WorkloadShape& shape);

}  // namespace bench
