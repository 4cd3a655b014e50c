// The worksheet XML scanner: references, dates, and the same rows whatever the
// pieces the XML arrives in.
#include <gtest/gtest.h>

#include <sstream>

#include "sheets/xlsx/sheet_reader.h"

namespace {

using namespace sheets::xlsx;

// Records rows as text: "r:col=type:value|..." per row, merges as "m:r1,c1,r2,c2".
class Recorder : public RowSink {
 public:
  std::vector<std::string> lines;
  void row(const Row& row) override {
    std::ostringstream s;
    s << row.index << (row.custom ? "*" : "") << ":";
    for (const Cell& c : row.cells) {
      s << c.col << "=" << static_cast<int>(c.type) << "/" << c.style << ":";
      if (c.type == CellType::Text || c.type == CellType::Error) s << row.text_of(c);
      else s << c.number;
      s << "|";
    }
    lines.push_back(s.str());
  }
  void merge(const Range& r) override {
    lines.push_back("m:" + std::to_string(r.r1) + "," + std::to_string(r.c1) + "," + std::to_string(r.r2) + "," + std::to_string(r.c2));
  }
  void column_style(std::uint32_t first, std::uint32_t last, std::uint32_t style, bool hidden) override {
    lines.push_back("col:" + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(style) + (hidden ? "h" : ""));
  }
};

std::vector<std::string> scan_whole(const std::string& xml) {
  Recorder r;
  SheetScanner s(r);
  std::size_t used = s.feed(xml.data(), xml.size(), true);
  EXPECT_EQ(used, xml.size());
  return r.lines;
}

// Feeds the XML in pieces of n bytes, keeping what the scanner did not consume.
std::vector<std::string> scan_pieces(const std::string& xml, std::size_t n) {
  Recorder r;
  SheetScanner s(r);
  std::string buf;
  for (std::size_t pos = 0; pos < xml.size(); pos += n) {
    buf.append(xml, pos, n);
    buf.erase(0, s.feed(buf.data(), buf.size(), false));
  }
  s.feed(buf.data(), buf.size(), true);
  return r.lines;
}

const std::string kSheet =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<x:cols><x:col min=\"2\" max=\"3\" width=\"9\" style=\"4\"/><x:col min=\"5\" max=\"5\" hidden=\"1\"/></x:cols>"
    "<!-- a comment with <row> inside -->"
    "<x:sheetData>"
    "<x:row r=\"2\" spans=\"1:3\" customHeight=\"1\"><x:c r=\"A2\" s=\"3\"><x:v>1.5</x:v></x:c>"
    "<x:c r=\"B2\" t=\"s\"><x:v> 7 </x:v></x:c><x:c t=\"str\"><x:f>A1&amp;\"x\"</x:f><x:v>a&amp;b&lt;&#233;&#x4E2D;</x:v></x:c></x:row>"
    "<x:row><x:c t=\"b\"><x:v>1</x:v></x:c><x:c t=\"e\"><x:v>#N/A</x:v></x:c>"
    "<x:c t=\"inlineStr\" s=\"2\"><x:is><x:r><x:rPr><x:b/></x:rPr><x:t xml:space=\"preserve\">in </x:t></x:r><x:r><x:t>line</x:t></x:r>"
    "<x:rPh sb=\"0\" eb=\"1\"><x:t>ruby</x:t></x:rPh></x:is></x:c><x:c r=\"F3\" t=\"d\"><x:v>1900-03-01T12:00:00</x:v></x:c>"
    "<x:c r=\"G3\" s=\"5\"/><x:c r=\"H3\"><x:v></x:v></x:c><x:c r=\"I3\" t=\"str\"><x:v>line1\r\nline2</x:v></x:c></x:row>"
    "<x:row r=\"10\" s=\"4\" customFormat=\"1\"/>"
    "<x:row r='11'><x:c r='B11' t='inlineStr'><x:is><x:t>_x0041__x005F_x0042_</x:t></x:is></x:c></x:row>"
    "</x:sheetData><x:mergeCells count=\"1\"><x:mergeCell ref=\"B2:C3\"/></x:mergeCells>"
    "</x:worksheet>";

TEST(SheetScanner, ReadsCellsRowsAndMerges) {
  std::vector<std::string> expected = {
      "col:1-2/4",
      "col:4-4/0h",
      "1*:0=1/3:1.5|1=2/0:7|2=3/0:a&b<é中|",
      "2:0=4/0:1|1=5/0:#N/A|2=3/2:in line|5=1/0:61.5|6=0/5:0|7=0/0:0|8=3/0:line1\nline2|",
      "9*:",
      "10:1=3/0:A_x0042_|",
      "m:1,1,2,2",
  };
  EXPECT_EQ(scan_whole(kSheet), expected);
}

TEST(SheetScanner, AnySplitOfTheInputGivesTheSameRows) {
  const auto whole = scan_whole(kSheet);
  for (std::size_t n : {1, 2, 3, 5, 7, 13, 64, 100, 1000}) EXPECT_EQ(scan_pieces(kSheet, n), whole) << "pieces of " << n;
}

TEST(SheetScanner, MalformedSheetsFailWithAMessage) {
  struct Case {
    const char* what;
    std::string xml;
    const char* expect;
  } cases[] = {
      {"truncated", kSheet.substr(0, kSheet.size() / 2), "truncated"},
      {"ends after a row", "<worksheet><sheetData><row r=\"1\"><c><v>1</v></c></row>  ", "truncated"},
      {"rows out of order", "<sheetData><row r=\"3\"/><row r=\"2\"/></sheetData>", "out of order"},
      {"row zero", "<sheetData><row r=\"0\"/></sheetData>", "out of range"},
      {"row beyond the last", "<sheetData><row r=\"1048577\"/></sheetData>", "out of range"},
      {"column beyond the last", "<sheetData><row><c r=\"XFE1\"/></row></sheetData>", "invalid cell reference"},
      {"too many cells without reference",
       "<sheetData><row>" + [] {
         std::string s;
         for (int i = 0; i < 16385; ++i) s += "<c/>";
         return s;
       }() + "</row></sheetData>",
       "more cells"},
      {"bad shared string index", "<sheetData><row><c t=\"s\"><v>x</v></c></row></sheetData>", "shared string"},
  };
  for (const Case& c : cases) {
    Recorder r;
    SheetScanner s(r);
    try {
      s.feed(c.xml.data(), c.xml.size(), true);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const sheets::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

TEST(CellReference, ParsesColumnsAndRowsWithinTheSheetLimits) {
  struct Case {
    const char* ref;
    bool ok;
    std::uint32_t col, row;
  } cases[] = {
      {"A1", true, 0, 0},        {"z9", true, 25, 8},           {"AA10", true, 26, 9},
      {"XFD1048576", true, 16383, 1048575},                      {"XFE1", false, 0, 0},
      {"A1048577", false, 0, 0}, {"A0", false, 0, 0},            {"A", false, 0, 0},
      {"1", false, 0, 0},        {"A1B", false, 0, 0},           {"", false, 0, 0},
      {"$A$1", false, 0, 0},     {"AAAAAAA1", false, 0, 0},     {"A99999999999", false, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t col = 99, row = 99;
    EXPECT_EQ(parse_ref(c.ref, col, row), c.ok) << c.ref;
    if (c.ok) {
      EXPECT_EQ(col, c.col) << c.ref;
      EXPECT_EQ(row, c.row) << c.ref;
    }
  }
}

TEST(IsoDate, ConvertsToSerialNumbers) {
  struct Case {
    const char* iso;
    bool date1904;
    double serial;
  } cases[] = {
      {"1900-01-01", false, 1},     {"1900-02-28", false, 59},         {"1900-03-01", false, 61},
      {"2020-01-31", false, 43861}, {"2020-01-31T06:00:00", false, 43861.25},
      {"2020-01-31T06:00:00Z", false, 43861.25},                       {"1904-01-02", true, 1},
      {"1899-12-31", false, 0},     {"12:00:00", false, 0.5},          {"2020-01-31T00:00:00.5", false, 43861 + 0.5 / 86400},
  };
  for (const Case& c : cases) {
    double v = -1;
    ASSERT_TRUE(iso_to_serial(c.iso, c.date1904, v)) << c.iso;
    EXPECT_DOUBLE_EQ(v, c.serial) << c.iso;
  }
  for (const char* bad : {"", "2020", "2020-13-01", "2020-01-32", "2020-01-01T25:00:00", "yesterday", "2020-01-01Tx"}) {
    double v = 0;
    EXPECT_FALSE(iso_to_serial(bad, false, v)) << bad;
  }
}

}  // namespace
