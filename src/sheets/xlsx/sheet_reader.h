// A scanner made for worksheet XML: it reads the rows and cells of sheetData and
// the merged ranges, nothing else, straight from the bytes (no general XML parser,
// no allocation per cell). Input arrives in pieces; the scanner consumes whole
// elements only and tells how far it got, so that the caller keeps the rest for
// the next piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/error.h"

namespace sheets::zip {
class EntryReader;
}

namespace sheets::xlsx {

inline constexpr std::uint32_t kMaxRows = 1048576;
inline constexpr std::uint32_t kMaxColumns = 16384;
// The most bytes one row (or any other element) may take in the sheet XML.
inline constexpr std::size_t kMaxElementBytes = 64u << 20;

enum class CellType : std::uint8_t { Blank, Number, SharedString, Text, Bool, Error };

struct Cell {
  std::uint32_t col = 0;    // 0-based
  std::uint32_t style = 0;  // cellXfs index
  CellType type = CellType::Blank;
  double number = 0;         // Number, Bool (0/1), SharedString (index)
  std::uint32_t text_begin = 0, text_len = 0;  // Text and Error: in Row::text
};

struct Row {
  std::uint32_t index = 0;  // 0-based
  std::uint32_t style = 0;  // the row's own format (customFormat), 0 when none
  bool custom = false;       // a height of its own, hidden, or a format of its own
  std::vector<Cell> cells;
  std::string text;
  std::string_view text_of(const Cell& c) const { return std::string_view(text).substr(c.text_begin, c.text_len); }
};

struct Range {
  std::uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;  // 0-based, inclusive
};

class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void row(const Row& row) = 0;
  virtual void merge(const Range& range) = 0;
  // A column description (<col min max style hidden>), 0-based columns.
  virtual void column_style(std::uint32_t first, std::uint32_t last, std::uint32_t style, bool hidden) = 0;
};

class SheetScanner {
 public:
  explicit SheetScanner(RowSink& sink, bool date1904 = false) : sink_(sink), date1904_(date1904) {}
  // Scans data; returns the number of bytes consumed (whole elements). With final
  // set, the data is the end of the sheet and incomplete elements are an error.
  std::size_t feed(const char* data, std::size_t len, bool final);

 private:
  struct NeedMore {};
  const char* scan_row(const char* p, const char* e);
  const char* scan_cell(const char* p, const char* e);
  const char* scan_inline(const char* p, const char* e, bool& closed);

  RowSink& sink_;
  bool date1904_;
  Row row_;
  std::string scratch_, decoded_;
  bool in_data_ = false;
  bool data_done_ = false;
  std::int64_t last_row_ = -1;
  std::int64_t last_col_ = -1;
};

// Parses a cell reference ("B12") into 0-based column and row; false when it is
// not one or lies beyond the last column or row.
bool parse_ref(std::string_view ref, std::uint32_t& col, std::uint32_t& row);
// Converts an ISO 8601 date/time text to a serial number; false when it is not one.
bool iso_to_serial(std::string_view iso, bool date1904, double& serial);

// Scans a whole sheet entry. Large entries are inflated on a second thread while
// this one scans.
void scan_sheet(zip::EntryReader& in, RowSink& sink, bool date1904);

}  // namespace sheets::xlsx
