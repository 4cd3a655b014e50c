// Fuzz harness of the number-format renderer: the input is a format code; it is
// compiled and a handful of values (positive, negative, zero, a date, huge and tiny
// numbers) and a text are rendered through it in both date systems.
//
// Besides crashes and sanitizer reports it checks that the output stays within a
// bound proportional to the code, so that no code can make the renderer produce (or
// allocate) without limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sheets/numfmt/numfmt.h"

namespace {

// Inputs longer than the longest accepted code only exercise the length check.
constexpr std::size_t kMaxInput = sheets::numfmt::kMaxFormatLength + 16;
// Output allowed per character of the code, and on top of it (digits of the largest
// double, a General text, the '#' fill of an impossible date).
constexpr std::size_t kOutputPerCodeChar = 12;
constexpr std::size_t kOutputBase = 1024;

constexpr double kValues[] = {
    1234.5678, -1234.5678, 0.0, 45000.75, 1.7976931348623157e308, -1e-300,
    0.5,       2958465.99999, -0.0000001, 123456789012345.0,
};

void check_size(const std::string& out, std::size_t code_size) {
  if (out.size() > kOutputBase + kOutputPerCodeChar * code_size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) size = kMaxInput;
  const std::string_view code(reinterpret_cast<const char*>(data), size);
  auto f = sheets::numfmt::Format::parse(code);
  (void)f->is_date();
  (void)f->is_general();
  std::string out;
  for (double v : kValues) {
    for (bool date1904 : {false, true}) {
      out.clear();
      f->render(v, date1904, out);
      check_size(out, size);
    }
  }
  out.clear();
  f->render_text("fuzz text", out);
  check_size(out, size + 9);
  return 0;
}
