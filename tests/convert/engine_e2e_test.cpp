// End to end with the real spreadsheet engine registered as the application: an
// unattended run over real workbooks, one of them damaged.
#include <gtest/gtest.h>

#include <algorithm>

#include "convert/convert_env.h"
#include "core/voInfo.h"
#include "core/voMain.h"
#include "core/voProject.h"
#include "platform/path.h"
#include "platform/text.h"
#include "sheets/excel_application.h"
#include "support/xlsx_builder.h"

namespace tabrix_test {
namespace {

class EngineEndToEnd : public ConvertEnv {
 protected:
  void SetUp() override {
    ConvertEnv::SetUp();
    excel_.reset();
    sheets::register_excel_application();
    voMain = new TvoMain;
  }
  void TearDown() override {
    delete voMain;
    voMain = nullptr;
    platform::automation::unregister_class("Excel.Application");
    ConvertEnv::TearDown();
  }
};

TEST_F(EngineEndToEnd, UnattendedRunWritesEverySheet) {
  {
    testkit::XlsxBuilder b;
    b.add_sheet("First").text(1, 1, "Name").number(1, 2, 3.5, "0.00");
    b.add_sheet("Second").text(1, 1, "x").text(2, 1, "y");
    b.save(in_ + "two.xlsx");
  }
  {
    testkit::XlsxBuilder b;
    b.add_sheet("Only").number(1, 1, 42);
    platform::path::make_dirs(in_ + "sub");
    b.save(in_ + "sub/one.xlsx");
  }
  WriteFile(in_ + "broken.xlsx", "this is not a zip package");
  const std::string log = dir_ + "run.log";
  Options({"Source=" + in_ + "*.xlsx", "Target=" + dir_ + "out", "Subdir=True", "Sheet=-1", "ThreadsCount=2",
           "LogFile=" + log, "RenameSource=.done"});

  voMain->Run();

  const auto lines = platform::text::split_lines(ReadFile(log));
  ASSERT_EQ(lines.size(), 3u) << ReadFile(log);
  int failures = 0;
  for (const auto& l : lines) {
    if (l.rfind("Failure => " + in_ + "broken.xlsx => ", 0) == 0) ++failures;
  }
  EXPECT_EQ(failures, 1) << ReadFile(log);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Success => " + in_ + "two.xlsx => " + out_ + "two.csv"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Success => " + in_ + "sub/one.xlsx => " + out_ + "sub/one.csv"),
            lines.end());

  EXPECT_NE(ReadFile(out_ + "Sheet1_two.csv").find("Name"), std::string::npos);
  EXPECT_NE(ReadFile(out_ + "Sheet1_two.csv").find("3.50"), std::string::npos);
  EXPECT_NE(ReadFile(out_ + "Sheet2_two.csv").find("y"), std::string::npos);
  EXPECT_NE(ReadFile(out_ + "sub/Sheet1_one.csv").find("42"), std::string::npos);
  EXPECT_FALSE(Exists(out_ + "two.csv"));
  // Sources renamed after success only.
  EXPECT_TRUE(Exists(in_ + "two.xlsx.done"));
  EXPECT_TRUE(Exists(in_ + "sub/one.xlsx.done"));
  EXPECT_TRUE(Exists(in_ + "broken.xlsx"));

  EXPECT_EQ(voInfo->GetValue("S"), "2");
  EXPECT_EQ(voInfo->GetValue("F"), "1");
  EXPECT_EQ(links_.size(), 1u);
  EXPECT_NE(voInfo->GetValue("W"), "");
}

}  // namespace
}  // namespace tabrix_test
