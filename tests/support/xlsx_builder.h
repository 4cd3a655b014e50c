// A small, fast writer of zip packages and xlsx workbooks for tests, fuzz seeds,
// benchmarks and the sample workbooks.
//
// ZipWriter writes stored and deflated entries, optionally in ZIP64 form and with
// data descriptors, and accepts raw entries with arbitrary names, bytes and declared
// sizes so that tests can build damaged and hostile packages.
//
// XlsxBuilder writes a workbook the way the spreadsheet application lays it out:
// [Content_Types].xml, _rels/.rels, xl/workbook.xml with its relationships, one part
// per sheet, xl/styles.xml (numFmts + cellXfs), xl/sharedStrings.xml and docProps.
// Rows and columns are 1-based (row 1, column 1 is A1).
//
//   testkit::XlsxBuilder b;
//   auto& s = b.add_sheet("Data");
//   s.text(1, 1, "Name").number(1, 2, 3.5, "0.00").date(2, 1, "2020-01-31");
//   b.save("/tmp/x.xlsx");
//
// Big sheets are written streaming, row by row, without being held in memory:
//
//   b.add_streamed_sheet("Big", [&](testkit::RowWriter& w) {
//     for (uint32_t r = 1; r <= 300000; ++r) { w.begin_row(r); w.number(1, r); w.end_row(); }
//   });
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace testkit {

// ---------------------------------------------------------------------------
// Zip writer

enum class ZipMethod : uint16_t { Stored = 0, Deflated = 8 };

struct ZipOptions {
  // Writes ZIP64 extra fields for every entry and the ZIP64 end records even when
  // the sizes would fit 32 bits.
  bool zip64 = false;
  // Writes CRC and sizes in a data descriptor after the data (flag bit 3), with
  // zeros in the local header, as streaming writers do.
  bool data_descriptor = false;
  // zlib level for deflated entries (1 fastest, 9 smallest).
  int level = 6;
};

// A raw entry: the bytes are written exactly as given (already compressed when the
// method says so) and every declared field can be set to any value.
struct RawZipEntry {
  std::string name{};           // any bytes, "../x", "/abs", "a\\b", empty ...
  std::string data{};           // the stored bytes as they appear in the file
  uint16_t method = 0;        // 0 stored, 8 deflated, or anything else
  uint16_t flags = 0;         // general-purpose flag bits (bit 3 adds no descriptor here)
  std::optional<uint32_t> crc{};                 // default: CRC of data (right only for stored)
  std::optional<uint64_t> compressed_size{};     // default: data.size()
  std::optional<uint64_t> uncompressed_size{};   // default: data.size()
  // Values the central directory declares when they should differ from the local
  // header (default: the same as the local header).
  std::optional<uint64_t> central_compressed_size{};
  std::optional<uint64_t> central_uncompressed_size{};
  std::optional<uint64_t> local_header_offset{};  // default: the real offset
  bool zip64_extra = false;  // put the sizes in a ZIP64 extra field
};

// Deflates bytes into a raw deflate stream (no zlib header), as zip entries store them.
std::string deflate_raw(std::string_view data, int level = 6);
uint32_t crc32_of(std::string_view data);

class ZipWriter {
 public:
  // Writes into a string held by the writer (take it with finish()).
  explicit ZipWriter(ZipOptions options = {});
  // Writes into a file (created or truncated); throws std::runtime_error on failure.
  ZipWriter(const std::string& path, ZipOptions options);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  void add(std::string_view name, std::string_view data, ZipMethod method = ZipMethod::Deflated);
  void add_raw(const RawZipEntry& entry);

  // Streaming entry: begin, any number of write calls, end. Sizes and CRC are
  // patched into the local header afterwards (or written in a data descriptor).
  void begin_entry(std::string_view name, ZipMethod method = ZipMethod::Deflated);
  void write(std::string_view chunk);
  void end_entry();

  // Writes the central directory and end records. For a string writer returns the
  // whole package; for a file writer closes the file and returns "".
  std::string finish();

  // Bytes written so far (also the offset of the next entry).
  uint64_t offset() const { return offset_; }

 private:
  struct Central {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t csize = 0;
    uint64_t usize = 0;
    uint64_t offset = 0;
    bool zip64 = false;
  };
  void put(std::string_view bytes);
  void patch(uint64_t at, std::string_view bytes);
  void write_local_header(const std::string& name, uint16_t method, uint16_t flags, uint32_t crc,
                          uint64_t csize, uint64_t usize, bool zip64);
  void flush_deflate(int mode);

  ZipOptions options_;
  std::string out_;
  std::FILE* file_ = nullptr;
  std::string path_;
  uint64_t offset_ = 0;
  std::vector<Central> entries_;
  bool finished_ = false;

  // The open streaming entry.
  bool in_entry_ = false;
  Central current_;
  uint64_t header_offset_ = 0;
  std::unique_ptr<struct ZipDeflater> deflater_;
};

// ---------------------------------------------------------------------------
// Workbook builder

enum class Visibility { Visible, Hidden, VeryHidden };
enum class WorkbookKind { Xlsx, Xlsm, Xltx, Xltm };

// A number format for a cell: a built-in id (0..163) or a format code, which gets
// its own id from 164 on. A default Fmt means "no style" (the cell has no s=).
struct Fmt {
  int id = -1;
  std::string code;
  Fmt() = default;
  Fmt(int builtin_id) : id(builtin_id) {}                 // NOLINT(implicit)
  Fmt(const char* format_code) : code(format_code) {}     // NOLINT(implicit)
  Fmt(std::string format_code) : code(std::move(format_code)) {}  // NOLINT(implicit)
  bool none() const { return id < 0 && code.empty(); }
};

// Index into cellXfs; 0 is the default style (no s= is written).
using StyleId = uint32_t;

// "A", "Z", "AA", ... for a 1-based column number.
std::string column_name(uint32_t col);
// "B3" for row 3, column 2.
std::string cell_ref(uint32_t row, uint32_t col);
// Escapes text for XML element content or attribute values (&, <, >, ").
std::string xml_escape(std::string_view text);
// Escapes text for a <t> element the way the application does: XML escapes plus
// _xHHHH_ for control characters (CR included) and for a literal "_xHHHH_".
std::string ooxml_text_escape(std::string_view text);
// Shortest text that reads back as the same double ("1", "0.1", "1E+300" style
// is not used: this gives "1e+300", which every reader accepts).
std::string number_text(double v);

class XlsxBuilder;

// Writes a sheet's rows in order, straight into the package. Rows must ascend and
// cells within a row must ascend.
class RowWriter {
 public:
  void begin_row(uint32_t row, bool hidden = false);
  // A row with the attributes the application adds to every row it writes
  // (spans="first:last" x14ac:dyDescent="0.25").
  void begin_row_spans(uint32_t row, uint32_t first_col, uint32_t last_col);
  void end_row();

  void number(uint32_t col, double v, StyleId s = 0);
  void text(uint32_t col, std::string_view text, StyleId s = 0);  // shared string
  void shared_index(uint32_t col, uint32_t index, StyleId s = 0);
  void inline_text(uint32_t col, std::string_view text, StyleId s = 0);
  void boolean(uint32_t col, bool v, StyleId s = 0);
  void error(uint32_t col, std::string_view code, StyleId s = 0);
  void date(uint32_t col, std::string_view iso, StyleId s = 0);
  void empty(uint32_t col, StyleId s);
  // Any XML at this point in the row (for cells without reference and the like).
  void raw(std::string_view xml);

 private:
  friend class XlsxBuilder;
  RowWriter(XlsxBuilder& b, ZipWriter& z) : b_(b), z_(z) {}
  void cell_open(uint32_t col, StyleId s, const char* type);
  void flush_if_full();
  XlsxBuilder& b_;
  ZipWriter& z_;
  std::string buf_;
  uint32_t row_ = 0;
  bool in_row_ = false;
};

// A sheet held in memory; cells may be added in any order and replace each other.
class SheetBuilder {
 public:
  SheetBuilder& number(uint32_t row, uint32_t col, double v, const Fmt& f = {});
  SheetBuilder& text(uint32_t row, uint32_t col, std::string_view text, const Fmt& f = {});
  SheetBuilder& shared_index(uint32_t row, uint32_t col, uint32_t index, const Fmt& f = {});
  SheetBuilder& inline_text(uint32_t row, uint32_t col, std::string_view text, const Fmt& f = {});
  SheetBuilder& boolean(uint32_t row, uint32_t col, bool v, const Fmt& f = {});
  // code: "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"
  SheetBuilder& error(uint32_t row, uint32_t col, std::string_view code, const Fmt& f = {});
  // An ISO 8601 date cell (t="d"), "2020-01-31" or "2020-01-31T12:00:00".
  SheetBuilder& date(uint32_t row, uint32_t col, std::string_view iso, const Fmt& f = {});
  // Formulas with their cached results; the formula text is written as given.
  SheetBuilder& formula_number(uint32_t row, uint32_t col, std::string_view formula, double cached,
                               const Fmt& f = {});
  SheetBuilder& formula_text(uint32_t row, uint32_t col, std::string_view formula,
                             std::string_view cached, const Fmt& f = {});
  SheetBuilder& formula_bool(uint32_t row, uint32_t col, std::string_view formula, bool cached,
                             const Fmt& f = {});
  SheetBuilder& formula_error(uint32_t row, uint32_t col, std::string_view formula,
                              std::string_view cached, const Fmt& f = {});
  // An empty cell with a style of its own (counts as used).
  SheetBuilder& styled_empty(uint32_t row, uint32_t col, const Fmt& f);
  // A cell given as raw XML (the whole <c> element); col only orders it in the row.
  SheetBuilder& raw_cell(uint32_t row, uint32_t col, std::string_view xml);

  SheetBuilder& merge(std::string_view range);  // "A1:C2"
  SheetBuilder& hide_row(uint32_t row);
  SheetBuilder& hide_column(uint32_t col);
  // The stored <dimension ref>; by default the range of the cells written.
  SheetBuilder& dimension(std::string_view ref);
  // Any XML placed after <sheetData> (before mergeCells) or before <sheetData>.
  SheetBuilder& xml_after_data(std::string_view xml);
  SheetBuilder& xml_before_data(std::string_view xml);

 private:
  friend class XlsxBuilder;
  explicit SheetBuilder(XlsxBuilder& b) : b_(b) {}
  SheetBuilder& put(uint32_t row, uint32_t col, std::string xml);
  std::string open(uint32_t row, uint32_t col, const Fmt& f, const char* type);
  std::string xml() const;

  XlsxBuilder& b_;
  std::map<uint32_t, std::map<uint32_t, std::string>> rows_;
  std::vector<std::string> merges_;
  std::vector<uint32_t> hidden_rows_;
  std::vector<uint32_t> hidden_cols_;
  std::string dimension_;
  std::string before_data_;
  std::string after_data_;
};

struct XlsxOptions {
  WorkbookKind kind = WorkbookKind::Xlsx;
  bool date1904 = false;
  int active_tab = -1;           // -1: no activeTab attribute (the first sheet)
  ZipOptions zip;
  bool doc_props = true;         // docProps/core.xml and app.xml
  std::string workbook_part = "xl/workbook.xml";  // where the workbook part lives
  bool shared_strings = true;    // write xl/sharedStrings.xml even when empty
};

class XlsxBuilder {
 public:
  explicit XlsxBuilder(XlsxOptions options = {});
  ~XlsxBuilder();
  XlsxBuilder(const XlsxBuilder&) = delete;
  XlsxBuilder& operator=(const XlsxBuilder&) = delete;

  XlsxOptions& options() { return options_; }

  SheetBuilder& add_sheet(std::string_view name, Visibility v = Visibility::Visible);
  void add_chart_sheet(std::string_view name, Visibility v = Visibility::Visible);
  // The generator runs while the package is written and writes the rows.
  void add_streamed_sheet(std::string_view name, std::function<void(RowWriter&)> generator,
                          Visibility v = Visibility::Visible, std::string_view dimension = "");

  void set_active_tab(int index) { options_.active_tab = index; }
  void set_date1904(bool on) { options_.date1904 = on; }
  // Adds xl/vbaProject.bin (a stub unless bytes are given) and makes the package
  // macro-enabled (xlsm, or xltm for a template).
  void set_vba_project(std::string bytes = {});

  StyleId style(const Fmt& f);
  uint32_t intern(std::string_view text);             // shared string index
  uint32_t raw_shared_string(std::string_view si_xml);  // the inner XML of an <si>

  // An extra part in the package (with a content type override when given).
  void add_part(std::string_view path, std::string bytes, std::string_view content_type = "");
  // Replaces a part the builder would write (e.g. "xl/styles.xml") by these bytes.
  void replace_part(std::string_view path, std::string bytes);
  // Leaves out a part the builder would write.
  void omit_part(std::string_view path);

  std::string to_string();
  void save(const std::string& path);

 private:
  friend class SheetBuilder;
  friend class RowWriter;
  struct Sheet {
    std::string name;
    Visibility visibility = Visibility::Visible;
    bool chart = false;
    std::unique_ptr<SheetBuilder> cells;
    std::function<void(RowWriter&)> generator;
    std::string dimension;
  };
  void write(ZipWriter& z);
  void emit(ZipWriter& z, const std::string& path, const std::string& bytes);
  std::string content_types() const;
  std::string workbook_xml() const;
  std::string workbook_rels() const;
  std::string styles_xml() const;
  std::string shared_strings_xml() const;
  std::string sheet_part(size_t i) const;
  std::string workbook_folder() const;

  XlsxOptions options_;
  std::vector<Sheet> sheets_;
  // Styles: custom codes by id, and the cellXfs after the default one.
  std::vector<std::pair<int, std::string>> num_fmts_;
  std::unordered_map<std::string, int> code_ids_;
  std::vector<int> xf_fmt_ids_;
  std::map<int, StyleId> xf_by_fmt_;
  // Shared strings.
  std::vector<std::string> sst_;  // the inner XML of each <si>
  std::unordered_map<std::string, uint32_t> sst_index_;
  uint64_t sst_refs_ = 0;
  std::optional<std::string> vba_;
  std::vector<std::pair<std::string, std::string>> extra_parts_;
  std::vector<std::pair<std::string, std::string>> extra_types_;
  std::map<std::string, std::string> replaced_;
  std::vector<std::string> omitted_;
};

}  // namespace testkit
