// The "Excel.Application" objects, called through the automation runtime the way
// the converter calls them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/automation.h"
#include "platform/path.h"
#include "sheets/excel_application.h"
#include "support/xlsx_builder.h"
#include "support/error_of.h"

namespace {

namespace au = platform::automation;
using au::Variant;

class ExcelApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tabrix-excel-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    au::initialize_thread();
    sheets::register_excel_application();
    app_ = au::create_object("Excel.Application");
    testkit::XlsxBuilder b;
    b.add_sheet("First").text(1, 1, "one");
    b.add_chart_sheet("Chart");
    b.add_sheet("Second").text(1, 1, "two");
    b.set_active_tab(2);
    book_ = file("book.xlsx");
    b.save(book_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  au::ObjectPtr open(const std::string& path) {
    auto books = au::call(app_, "Workbooks").as_object();
    return au::call(books, "Open", {Variant(path), Variant::missing(), Variant(false)}).as_object();
  }
  static std::string error_of(const std::function<void()>& f) { return testkit::error_of<au::Error>(f); }

  std::string dir_, book_;
  au::ObjectPtr app_;
};

TEST_F(ExcelApplication, StartsLikeTheConverterExpects) {
  EXPECT_EQ(au::call(app_, "Version").as_string(), "16.0");
  au::put(app_, "DisplayAlerts", Variant(false));
  EXPECT_FALSE(au::get(app_, "displayalerts").as_bool());
  std::string path = au::call(app_, "Path").as_string();
  EXPECT_FALSE(path.empty());
  EXPECT_NE(path.back(), '/');
  EXPECT_EQ(path, platform::path::exclude_trailing_delim(platform::path::folder_part(platform::path::program_file())));
}

TEST_F(ExcelApplication, WorkbookSaveAsWritesTheActiveSheet) {
  auto wb = open(book_);
  au::call(wb, "SaveAs", {Variant(file("a.csv")), Variant(6)});
  EXPECT_EQ(read(file("a.csv")), "two\r\n");
  EXPECT_EQ(au::call(wb, "Name").as_string(), "book.xlsx");
  EXPECT_EQ(au::call(wb, "FullName").as_string(), book_);
  EXPECT_FALSE(au::call(wb, "HasVBProject").as_bool());
  au::call(wb, "Close", {Variant(false)});
}

TEST_F(ExcelApplication, SheetsByIndexCountAndSaveAs) {
  auto wb = open(book_);
  auto coll = au::call(wb, "Sheets").as_object();
  EXPECT_EQ(au::call(coll, "Count").as_int(), 3);
  auto worksheets = au::call(wb, "Worksheets").as_object();
  EXPECT_EQ(au::call(worksheets, "Count").as_int(), 2);
  auto first = au::get(wb, "Sheets", {Variant(1)}).as_object();
  EXPECT_EQ(au::call(first, "Name").as_string(), "First");
  EXPECT_EQ(au::call(first, "Index").as_int(), 1);
  EXPECT_EQ(au::call(first, "Visible").as_int(), -1);
  au::call(first, "SaveAs", {Variant(file("s1.csv")), Variant(6)});
  EXPECT_EQ(read(file("s1.csv")), "one\r\n");
  auto third = au::call(coll, "Item", {Variant(3)}).as_object();
  EXPECT_EQ(au::call(third, "Name").as_string(), "Second");
  auto active = au::call(wb, "ActiveSheet").as_object();
  EXPECT_EQ(au::call(active, "Index").as_int(), 3);
}

TEST_F(ExcelApplication, FailuresGiveTextsTheUserCanActOn) {
  auto wb = open(book_);
  EXPECT_EQ(error_of([&] { au::get(wb, "Sheets", {Variant(4)}); }), "Invalid index");
  EXPECT_EQ(error_of([&] { au::get(wb, "Sheets", {Variant(0)}); }), "Invalid index");
  auto chart = au::get(wb, "Sheets", {Variant(2)}).as_object();
  EXPECT_NE(error_of([&] { au::call(chart, "SaveAs", {Variant(file("c.csv")), Variant(6)}); }).find("chart sheet"),
            std::string::npos);
  EXPECT_NE(error_of([&] { au::call(wb, "SaveAs", {Variant(file("x.xlsx")), Variant(51)}); }).find("file format 51"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(file("x.xlsx")));
  EXPECT_NE(error_of([&] { au::call(wb, "SaveAs", {Variant(file("no/such/dir/a.csv")), Variant(6)}); }).find("no/such/dir/a.csv"),
            std::string::npos);
  EXPECT_EQ(error_of([&] { au::call(wb, "Frobnicate"); }), "Method 'Frobnicate' not supported by automation object");
  EXPECT_EQ(error_of([&] { open(file("missing.xlsx")); }),
            "Sorry, we couldn't find " + file("missing.xlsx") + ". Is it possible it was moved, renamed or deleted?");
}

TEST_F(ExcelApplication, OpenWithPasswordOpensAPlainWorkbookAndFailsAnEncryptedOneAtOnce) {
  auto books = au::call(app_, "Workbooks").as_object();
  auto wb = au::call(books, "Open", {Variant(book_), Variant::missing(), Variant(true), Variant::missing(), Variant(51)}).as_object();
  EXPECT_EQ(au::call(books, "Count").as_int(), 1);
  std::string enc("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  enc.resize(2048, '\0');
  const char name[] = "E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0";
  enc.replace(512, sizeof(name) - 1, name, sizeof(name) - 1);
  std::ofstream(file("enc.xlsx"), std::ios::binary) << enc;
  std::string msg = error_of(
      [&] { au::call(books, "Open", {Variant(file("enc.xlsx")), Variant::missing(), Variant(true), Variant::missing(), Variant(51)}); });
  EXPECT_NE(msg.find("protected by a password"), std::string::npos) << msg;
  au::call(wb, "Close", {Variant(false)});
  EXPECT_EQ(au::call(books, "Count").as_int(), 0);
}

TEST_F(ExcelApplication, QuitClosesEverything) {
  auto wb = open(book_);
  auto books = au::call(app_, "Workbooks").as_object();
  EXPECT_EQ(au::call(books, "Count").as_int(), 1);
  au::call(app_, "Quit");
  EXPECT_EQ(au::call(books, "Count").as_int(), 0);
  EXPECT_NE(error_of([&] { au::call(wb, "Sheets"); }).find("closed"), std::string::npos);
}

}  // namespace
