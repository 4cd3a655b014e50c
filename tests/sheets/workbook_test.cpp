// The engine's CSV text for workbooks built in the test: range, padding, quoting,
// values as displayed, the package structure, and the error texts.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sheets/engine.h"
#include "support/xlsx_builder.h"
#include "support/error_of.h"

namespace {

using testkit::XlsxBuilder;

std::string csv_of(XlsxBuilder& b, int sheet = 0) {
  auto wb = sheets::Workbook::open_memory(b.to_string(), "test.xlsx");
  std::string out;
  wb->write_csv(sheet, out);
  return out;
}

static std::string error_of(const std::function<void()>& f) { return testkit::error_of<sheets::Error>(f); }

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tabrix-engine-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string read_file(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CsvRange, StartsAtTheFirstUsedRowAndColumnAndPadsEveryRow) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.text(3, 2, "a").number(5, 4, 7);
  // Rows 3..5, columns B..D; row 4 is empty inside the range.
  EXPECT_EQ(csv_of(b), "a,,\r\n,,\r\n,,7\r\n");
}

TEST(CsvRange, EmptySheetGivesNoBytes) {
  XlsxBuilder b;
  b.add_sheet("Empty");
  EXPECT_EQ(csv_of(b), "");
}

TEST(CsvRange, StyledEmptyCellCountsAsUsed) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.text(1, 1, "x").styled_empty(2, 3, "0.00");
  EXPECT_EQ(csv_of(b), "x,,\r\n,,\r\n");
}

TEST(CsvRange, TheStoredDimensionIsIgnored) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.number(2, 2, 1).dimension("A1:Z100");
  EXPECT_EQ(csv_of(b), "1\r\n");
}

TEST(CsvRange, MergedCellsKeepTheValueOnlyTopLeft) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.text(1, 1, "top").text(1, 2, "covered").text(2, 1, "covered too").number(2, 3, 5).merge("A1:B2");
  EXPECT_EQ(csv_of(b), "top,,\r\n,,5\r\n");
}

TEST(CsvRange, SeveralMergedRangesInTheSameRows) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  for (uint32_t r = 1; r <= 4; ++r)
    for (uint32_t c = 1; c <= 6; ++c) s.number(r, c, r * 10 + c);
  s.merge("B1:C3").merge("E2:F2").merge("A4:F4");
  EXPECT_EQ(csv_of(b),
            "11,12,,14,15,16\r\n"
            "21,,,24,25,\r\n"
            "31,,,34,35,36\r\n"
            "41,,,,,\r\n");
}

TEST(CsvRange, HiddenRowsAndColumnsAreWritten) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.number(1, 1, 1).number(2, 2, 2).hide_row(2).hide_column(2);
  EXPECT_EQ(csv_of(b), "1,\r\n,2\r\n");
}

TEST(CsvQuoting, OnlyFieldsWithSeparatorQuoteOrLineBreaksOrTabAreQuoted) {
  struct Case {
    const char* text;
    const char* field;
  } cases[] = {
      {"plain", "plain"},
      {" blanks around ", " blanks around "},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\rhere", "\"cr\rhere\""},
      {"tab\there", "\"tab\there\""},
      {"semi;colon", "semi;colon"},
      {"ünïcödé €", "ünïcödé €"},
  };
  for (const Case& c : cases) {
    XlsxBuilder b;
    b.add_sheet("S").text(1, 1, c.text);
    EXPECT_EQ(csv_of(b), std::string(c.field) + "\r\n") << c.text;
  }
}

TEST(CsvValues, CellTypesAsDisplayed) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.number(1, 1, 1234.5)
      .number(1, 2, 1234.5, "#,##0.00")
      .boolean(1, 3, true)
      .boolean(1, 4, false)
      .error(1, 5, "#DIV/0!")
      .inline_text(1, 6, "inline")
      .formula_number(1, 7, "1+1", 2)
      .formula_text(1, 8, "\"a\"&\"b\"", "ab")
      .formula_bool(1, 9, "TRUE()", true)
      .formula_error(1, 10, "NA()", "#N/A")
      .number(1, 11, 0.5, 10)
      .date(1, 12, "2020-01-31", 14)
      .number(1, 13, 123456789012.0);
  EXPECT_EQ(csv_of(b), "1234.5,\"1,234.50\",TRUE,FALSE,#DIV/0!,inline,2,ab,TRUE,#N/A,50.00%,1/31/2020,1.23457E+11\r\n");
}

TEST(CsvValues, DatesFollowTheWorkbooksDateSystem) {
  for (bool d1904 : {false, true}) {
    XlsxBuilder b;
    b.set_date1904(d1904);
    b.add_sheet("S").number(1, 1, 0, 14).date(1, 2, "2001-02-03T12:00:00", 22);
    EXPECT_EQ(csv_of(b), d1904 ? "1/1/1904,2/3/2001 12:00\r\n" : "1/0/1900,2/3/2001 12:00\r\n") << d1904;
  }
}

TEST(CsvValues, TheLeapDayOf1900Exists) {
  XlsxBuilder b;
  b.add_sheet("S").number(1, 1, 60, 14).number(1, 2, 61, 14).date(1, 3, "1900-03-01", 14);
  EXPECT_EQ(csv_of(b), "2/29/1900,3/1/1900,3/1/1900\r\n");
}

TEST(CsvValues, SharedStringsJoinRunsDropPhoneticTextAndDecodeEscapes) {
  XlsxBuilder b;
  uint32_t rich = b.raw_shared_string("<r><t>Bold</t></r><r><t xml:space=\"preserve\"> plain</t></r>");
  uint32_t phon = b.raw_shared_string("<t>漢字</t><rPh sb=\"0\" eb=\"2\"><t>かんじ</t></rPh>");
  uint32_t esc = b.raw_shared_string("<t>a_x000D_b_x005F_x0041_c_x0041_</t>");
  uint32_t trimmed = b.raw_shared_string("<t>  no preserve  </t>");
  auto& s = b.add_sheet("S");
  s.shared_index(1, 1, rich).shared_index(1, 2, phon).shared_index(1, 3, esc).shared_index(1, 4, trimmed);
  EXPECT_EQ(csv_of(b), "Bold plain,漢字,\"a\rb_x0041_cA\",no preserve\r\n");
}

TEST(CsvValues, CellsAndRowsWithoutReferenceTakeTheNextPosition) {
  XlsxBuilder b;
  auto& s = b.add_sheet("S");
  s.number(2, 2, 1);
  s.raw_cell(2, 3, "<c><v>2</v></c>");
  s.raw_cell(2, 4, "<c t=\"inlineStr\"><is><t>3</t></is></c>");
  EXPECT_EQ(csv_of(b), "1,2,3\r\n");
}

TEST(CsvValues, AbsurdCellReferenceFailsTheFile) {
  for (const char* ref : {"XFE1", "A1048577", "A0", "1A", "AAAAA1"}) {
    XlsxBuilder b;
    b.add_sheet("S").raw_cell(1, 1, std::string("<c r=\"") + ref + "\"><v>1</v></c>");
    std::string msg = error_of([&] { csv_of(b); });
    EXPECT_NE(msg.find("invalid cell reference"), std::string::npos) << ref << ": " << msg;
  }
}

TEST(CsvValues, SharedStringIndexOutOfRangeFails) {
  XlsxBuilder b;
  b.add_sheet("S").shared_index(1, 1, 99);
  EXPECT_NE(error_of([&] { csv_of(b); }).find("shared string"), std::string::npos);
}

TEST(Package, SheetsVisibilityActiveSheetAndMacros) {
  testkit::XlsxOptions o;
  o.kind = testkit::WorkbookKind::Xlsm;
  o.workbook_part = "book/main.xml";  // found through the relationships, not by a fixed path
  XlsxBuilder b(o);
  b.add_sheet("One").number(1, 1, 1);
  b.add_sheet("Two", testkit::Visibility::Hidden).number(1, 1, 2);
  b.add_chart_sheet("Chart");
  b.add_sheet("Three", testkit::Visibility::VeryHidden).number(1, 1, 3);
  b.set_active_tab(1);
  b.set_vba_project();
  auto wb = sheets::Workbook::open_memory(b.to_string(), "m.xlsm");
  ASSERT_EQ(wb->sheets().size(), 4u);
  EXPECT_EQ(wb->sheets()[0].name, "One");
  EXPECT_EQ(wb->sheets()[1].visibility, 1);
  EXPECT_TRUE(wb->sheets()[2].chart);
  EXPECT_EQ(wb->sheets()[3].visibility, 2);
  EXPECT_EQ(wb->active_sheet(), 1);
  EXPECT_TRUE(wb->has_vba_project());
  std::string out;
  wb->write_csv(3, out);
  EXPECT_EQ(out, "3\r\n");
  EXPECT_NE(error_of([&] { wb->write_csv(2, out); }).find("chart sheet"), std::string::npos);
  EXPECT_NE(error_of([&] { wb->write_csv(4, out); }).find("Invalid"), std::string::npos);
}

TEST(Package, PlainWorkbookHasNoMacros) {
  XlsxBuilder b;
  b.add_sheet("S");
  EXPECT_FALSE(sheets::Workbook::open_memory(b.to_string(), "x.xlsx")->has_vba_project());
}

TEST(Package, DamagedPackagesFailWithTheNameAndTheReason) {
  XlsxBuilder good;
  good.add_sheet("S").number(1, 1, 1);
  std::string bytes = good.to_string();
  struct Case {
    std::string name, data, expect;
  } cases[] = {
      {"not a zip", "hello, this is text and not a workbook at all", "not a workbook"},
      {"truncated", bytes.substr(0, bytes.size() / 2), "not a workbook"},
      {"empty", "", "not a workbook"},
  };
  for (const Case& c : cases) {
    std::string msg = error_of([&] { sheets::Workbook::open_memory(c.data, "bad.xlsx"); });
    EXPECT_NE(msg.find("bad.xlsx"), std::string::npos) << c.name << ": " << msg;
  }
  XlsxBuilder no_wb;
  no_wb.add_sheet("S");
  no_wb.omit_part("_rels/.rels");
  EXPECT_NE(error_of([&] { sheets::Workbook::open_memory(no_wb.to_string(), "x.xlsx"); }).find("no workbook part"),
            std::string::npos);
  XlsxBuilder doctype;
  doctype.add_sheet("S");
  doctype.replace_part("xl/workbook.xml",
                       "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;\">]>"
                       "<workbook><sheets><sheet name=\"&lol2;\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  EXPECT_NE(error_of([&] { sheets::Workbook::open_memory(doctype.to_string(), "x.xlsx"); }).find("document type"),
            std::string::npos);
}

TEST(Package, DeepXmlFails) {
  XlsxBuilder b;
  b.add_sheet("S");
  std::string deep = "<?xml version=\"1.0\"?><styleSheet>";
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  for (int i = 0; i < 5000; ++i) deep += "</a>";
  deep += "</styleSheet>";
  b.replace_part("xl/styles.xml", deep);
  EXPECT_NE(error_of([&] { sheets::Workbook::open_memory(b.to_string(), "x.xlsx"); }).find("nested too deeply"),
            std::string::npos);
}

TEST(Files, MissingFileGivesTheApplicationsText) {
  EXPECT_EQ(error_of([] { sheets::Workbook::open("/nonexistent/dir/book.xlsx"); }),
            "Sorry, we couldn't find /nonexistent/dir/book.xlsx. Is it possible it was moved, renamed or deleted?");
}

TEST(Files, CompoundFilesAreNamedForWhatTheyAre) {
  TempDir dir;
  std::string head("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  head.resize(4096, '\0');
  std::string enc = head;
  const char name[] = "E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0";
  enc.replace(1024, sizeof(name) - 1, name, sizeof(name) - 1);
  std::ofstream(dir.file("enc.xlsx"), std::ios::binary) << enc;
  std::ofstream(dir.file("old.xls"), std::ios::binary) << head;
  EXPECT_NE(error_of([&] { sheets::Workbook::open(dir.file("enc.xlsx")); }).find("protected by a password"), std::string::npos);
  EXPECT_NE(error_of([&] { sheets::Workbook::open(dir.file("old.xls")); }).find(".xls format"), std::string::npos);
}

TEST(Files, SaveWritesTheSameBytesAndLeavesNoTemporaryFile) {
  TempDir dir;
  XlsxBuilder b;
  b.add_sheet("S").text(1, 1, "a,b").number(2, 2, 3);
  b.save(dir.file("in.xlsx"));
  auto wb = sheets::Workbook::open(dir.file("in.xlsx"));
  std::string mem;
  wb->write_csv(0, mem);
  wb->save_csv(0, dir.file("out.csv"));
  EXPECT_EQ(read_file(dir.file("out.csv")), mem);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 2);
}

TEST(Files, UnwritableTargetFolderNamesTheTargetAndTheReason) {
  TempDir dir;
  XlsxBuilder b;
  b.add_sheet("S").number(1, 1, 1);
  auto wb = sheets::Workbook::open_memory(b.to_string(), "x.xlsx");
  std::string target = dir.file("missing-folder/out.csv");
  std::string msg = error_of([&] { wb->save_csv(0, target); });
  EXPECT_NE(msg.find(target), std::string::npos) << msg;
  EXPECT_NE(msg.find("No such file"), std::string::npos) << msg;
}

TEST(Files, FailedSaveKeepsTheOldTarget) {
  TempDir dir;
  XlsxBuilder b;
  b.add_sheet("S").shared_index(1, 1, 42);  // damaged: no such shared string
  auto wb = sheets::Workbook::open_memory(b.to_string(), "x.xlsx");
  std::ofstream(dir.file("out.csv")) << "old";
  EXPECT_NE(error_of([&] { wb->save_csv(0, dir.file("out.csv")); }), "(no error)");
  EXPECT_EQ(read_file(dir.file("out.csv")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

// A sheet large enough that its rendered rows go through the temporary file.
TEST(LargeSheets, SpooledRowsComeBackInOrder) {
  XlsxBuilder b;
  const uint32_t rows = 150001;  // about 10 MB of CSV, beyond the in-memory spool
  b.add_streamed_sheet("Big", [&](testkit::RowWriter& w) {
    for (uint32_t r = 1; r <= rows; ++r) {
      w.begin_row(r);
      if (r % 1000 != 0) {  // every thousandth row stays empty
        w.number(2, r);
        w.inline_text(4, "some text, with a comma and more text to fill the spool");
      }
      w.end_row();
    }
  });
  std::string out = csv_of(b);
  std::string expected;
  for (uint32_t r = 1; r <= rows; ++r) {
    if (r % 1000 == 0) expected += ",,\r\n";
    else expected += std::to_string(r) + ",,\"some text, with a comma and more text to fill the spool\"\r\n";
  }
  ASSERT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

}  // namespace
