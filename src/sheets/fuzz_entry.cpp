#include "sheets/fuzz_entry.h"

#include <string>
#include <vector>

#include "sheets/csv_writer.h"
#include "sheets/engine.h"
#include "sheets/xlsx/package.h"
#include "sheets/xlsx/sheet_reader.h"
#include "sheets/zip/zip.h"

namespace sheets::fuzz {
namespace {

// Most bytes read from one entry while fuzzing (the limits of the reader apply too).
constexpr std::size_t kFuzzEntryBudget = 16u << 20;
// Piece size for feeding the scanner, so that elements split across pieces.
constexpr std::size_t kPiece = 61;

}  // namespace

void zip_input(const std::uint8_t* data, std::size_t size) {
  try {
    auto ar = zip::Archive::open_memory(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<char> buf(1 << 16);
    for (const zip::Entry& e : ar->entries()) {
      try {
        auto in = ar->stream(e);
        std::size_t total = 0;
        while (total < kFuzzEntryBudget) {
          std::size_t n = in->read(buf.data(), buf.size());
          if (n == 0) break;
          total += n;
        }
      } catch (const Error&) {
      }
    }
  } catch (const Error&) {
    return;
  }
  // The same bytes as a workbook: package structure, styles, strings and sheets.
  try {
    auto wb = Workbook::open_memory(std::string(reinterpret_cast<const char*>(data), size), "fuzz.xlsx");
    for (int i = 0; i < static_cast<int>(wb->sheets().size()) && i < 8; ++i) {
      std::string out;
      try {
        wb->write_csv(i, out);
      } catch (const Error&) {
      }
    }
  } catch (const Error&) {
  }
}

void sheet_xml_input(const std::uint8_t* data, std::size_t size) {
  xlsx::SharedStrings sst;
  sst.add("zero");
  sst.add("one, with a comma");
  xlsx::Styles styles;
  styles.xf_numfmt = {0, 14, 10, 49, 164};
  styles.custom[164] = "#,##0.00;[Red]-0.0;\"zero\";@\"!\"";
  StyleFormats formats(styles);
  try {
    CsvBuilder builder(sst, formats, size % 2 == 1);
    xlsx::SheetScanner scanner(builder, size % 2 == 1);
    std::string buf;
    std::size_t pos = 0;
    const char* p = reinterpret_cast<const char*>(data);
    while (pos < size) {
      std::size_t n = std::min(kPiece, size - pos);
      buf.append(p + pos, n);
      pos += n;
      buf.erase(0, scanner.feed(buf.data(), buf.size(), false));
    }
    scanner.feed(buf.data(), buf.size(), true);
    std::string out;
    StringOutput o(out);
    builder.finish(o);
  } catch (const Error&) {
  }
}

}  // namespace sheets::fuzz
