// CSV file format 6: the rows of one sheet, as displayed, from the first to the
// last used row and column. Rows arrive from the sheet reader; since the used
// columns are known only at the end of the sheet, the rendered fields are spooled
// (in memory up to a bound, then in a temporary file) and written out once the
// range is known, so that memory stays flat in the row count.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sheets/numfmt/numfmt.h"
#include "sheets/xlsx/package.h"
#include "sheets/xlsx/sheet_reader.h"

namespace sheets {

// Rendered rows kept in memory before they go to a temporary file.
inline constexpr std::size_t kSpoolMemoryLimit = 8u << 20;
// Most merged ranges one sheet may hold.
inline constexpr std::size_t kMaxMergedRanges = 1u << 20;

class CsvOutput {
 public:
  virtual ~CsvOutput() = default;
  virtual void write(const char* data, std::size_t n) = 0;
};

class StringOutput : public CsvOutput {
 public:
  explicit StringOutput(std::string& s) : s_(s) {}
  void write(const char* data, std::size_t n) override { s_.append(data, n); }

 private:
  std::string& s_;
};

// Number formats of a workbook's cell styles, compiled once each.
class StyleFormats {
 public:
  explicit StyleFormats(const xlsx::Styles& styles) : styles_(styles) {}
  // nullptr for General.
  const numfmt::Format* get(std::uint32_t xf);

 private:
  const xlsx::Styles& styles_;
  std::vector<const numfmt::Format*> by_xf_;
  std::vector<bool> known_;
  std::unordered_map<int, std::shared_ptr<const numfmt::Format>> by_id_;
};

class CsvBuilder : public xlsx::RowSink {
 public:
  CsvBuilder(const xlsx::SharedStrings& sst, StyleFormats& formats, bool date1904);
  ~CsvBuilder() override;

  void row(const xlsx::Row& row) override;
  void merge(const xlsx::Range& range) override;
  void column_style(std::uint32_t first, std::uint32_t last, std::uint32_t style, bool hidden) override;
  // A cell that holds a note (comment): it counts as used.
  void note(std::uint32_t row, std::uint32_t col);

  // Writes the CSV text of everything received.
  void finish(CsvOutput& out);

  // Appends the displayed text of a cell value (tests).
  void render(const xlsx::Row& row, const xlsx::Cell& cell, std::string& out);

 private:
  void spill();
  void use(std::uint32_t row, std::uint32_t col);
  void emit_row(CsvOutput& out, std::uint32_t index, const char* fields, std::uint32_t count);

  const xlsx::SharedStrings& sst_;
  StyleFormats& formats_;
  bool date1904_;
  std::string spool_;
  std::FILE* spill_ = nullptr;
  std::vector<xlsx::Range> merges_;
  std::vector<std::uint32_t> order_;
  std::string value_;
  bool used_ = false;
  std::uint32_t min_row_ = 0, max_row_ = 0, min_col_ = 0, max_col_ = 0;
  // Columns with a format of their own.
  struct ColumnStyle {
    std::uint32_t first, last, style;
  };
  std::vector<ColumnStyle> column_styles_;
  // Rows and hidden columns with properties of their own widen the range once a
  // cell is used.
  bool custom_rows_ = false, hidden_cols_ = false;
  std::uint32_t custom_row_min_ = 0, custom_row_max_ = 0, hidden_col_min_ = 0, hidden_col_max_ = 0;
  // Emission state.
  std::string line_;
  std::vector<const xlsx::Range*> active_;  // merged ranges over the current row, by first column
  std::size_t next_merge_ = 0;
  std::uint32_t active_min_r2_ = 0;
};

namespace testing {
// Shows built-in formats 14 and 22 with a two-digit year (m/d/yy, m/d/yy h:mm), as
// the Mac edition of the application does; only for comparing with files it wrote.
void set_short_year_builtin_dates(bool on);
}  // namespace testing

// Appends a field, enclosed in double quotes when it holds a separator, a double
// quote, CR, LF or TAB (inner double quotes doubled).
void append_csv_field(std::string& out, std::string_view field);

}  // namespace sheets
