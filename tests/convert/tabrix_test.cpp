// Workbook to CSV: the save calls of every "AllSheets"/"Sheet" combination, the
// per-sheet names, and the outcomes recorded in the entry and the batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "convert/convert_env.h"
#include "convert/voTabrix.h"
#include "core/voProject.h"

namespace tabrix_test {
namespace {

class TabrixTest : public ConvertEnv {
 protected:
  // The calls between the workbook's Open and its Close.
  std::vector<std::string> SaveCalls() const {
    std::vector<std::string> out;
    bool in = false;
    for (const auto& t : excel_->Texts()) {
      if (t.rfind("workbooks.Open(", 0) == 0) {
        in = true;
        continue;
      }
      if (t == "book.Close(false)") break;
      if (in) out.push_back(t);
    }
    return out;
  }
};

TEST_F(TabrixTest, SaveCallsOfEveryRow) {
  struct Case {
    const char* all_sheets;  // "" = absent (on)
    const char* sheet;       // "" = absent (0)
    std::vector<std::string> calls;
    std::vector<std::string> files;  // written below out_
  };
  const std::string t = "\"" + out_ + "a.csv\",6)";
  const std::vector<Case> cases = {
      {"", "", {"book.SaveAs(" + t}, {"a.csv"}},
      {"True", "0", {"book.SaveAs(" + t}, {"a.csv"}},
      {"1", "-1",
       {"book.Sheets()", "sheets.Count()", "book.Sheets[get](1)", "sheet1.SaveAs(\"" + out_ + "Sheet1_a.csv\",6)",
        "book.Sheets[get](2)", "sheet2.SaveAs(\"" + out_ + "Sheet2_a.csv\",6)", "book.Sheets[get](3)",
        "sheet3.SaveAs(\"" + out_ + "Sheet3_a.csv\",6)"},
       {"Sheet1_a.csv", "Sheet2_a.csv", "Sheet3_a.csv"}},
      // Every sheet asked for, with any other number: that sheet, or the active one.
      {"", "2", {"book.Sheets[get](2)", "sheet2.SaveAs(" + t}, {"a.csv"}},
      {"", "-2", {"book.ActiveSheet()", "active.SaveAs(" + t}, {"a.csv"}},
      {"False", "0", {"book.ActiveSheet()", "active.SaveAs(" + t}, {"a.csv"}},
      {"0", "-3", {"book.ActiveSheet()", "active.SaveAs(" + t}, {"a.csv"}},
      {"0", "-1", {"book.ActiveSheet()", "active.SaveAs(" + t}, {"a.csv"}},
      {"0", "not a number", {"book.ActiveSheet()", "active.SaveAs(" + t}, {"a.csv"}},
      {"0", "2", {"book.Sheets[get](2)", "sheet2.SaveAs(" + t}, {"a.csv"}},
      {"0", "$3", {"book.Sheets[get](3)", "sheet3.SaveAs(" + t}, {"a.csv"}},
  };
  WriteFile(in_ + "a.xls");
  for (const auto& c : cases) {
    std::filesystem::remove_all(out_);
    WriteFile(out_ + "a.csv", "old target");
    Options({std::string("AllSheets=") + c.all_sheets, std::string("Sheet=") + c.sheet});
    excel_.reset();
    excel_ = ScriptedExcel::Install();
    const TvoNode node = ConvertOne(in_ + "a.xls", in_);
    const std::string label = std::string(c.all_sheets) + "/" + c.sheet;
    EXPECT_EQ(SaveCalls(), c.calls) << label;
    EXPECT_EQ(node.Status, TvoNode::Success) << label;
    EXPECT_EQ(node.ResultText, out_ + "a.csv") << label;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(out_)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, c.files) << label;
    // The old target was deleted after the open and before the saves.
    EXPECT_NE(ReadFile(out_ + "a.csv"), "old target") << label;
  }
}

TEST_F(TabrixTest, EverySheetOfAnEmptyWorkbookSavesNothing) {
  Options({"Sheet=-1"});
  excel_->sheet_count = 0;
  WriteFile(in_ + "a.xls");
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(SaveCalls(), (std::vector<std::string>{"book.Sheets()", "sheets.Count()"}));
  EXPECT_EQ(node.Status, TvoNode::Success);
}

TEST_F(TabrixTest, PerSheetFileNames) {
  EXPECT_EQ(TvoTabrix::SheetFileName("/out/a.csv", 2), "/out/Sheet2_a.csv");
  EXPECT_EQ(TvoTabrix::SheetFileName("/out/sub/a.b.csv", 10), "/out/sub/Sheet10_a.b.csv");
  EXPECT_EQ(TvoTabrix::SheetFileName("a.csv", 1), "Sheet1_a.csv");
}

TEST_F(TabrixTest, OpenFailureLeavesTheOldTargetAndTheSource) {
  Options({"DeleteSource=1"});
  WriteFile(in_ + "a.xls", "source");
  WriteFile(out_ + "a.csv", "old target");
  excel_->failures.push_back({"workbooks", "Open", "a.xls", {au::kException, "The file is corrupt.  "}});
  auto batch = BatchOf({in_ + "a.xls"}, in_);
  RunChain(batch);
  EXPECT_EQ(reports_, std::vector<std::string>{"2|" + in_ + "a.xls|The file is corrupt"});
  EXPECT_EQ(ReadFile(out_ + "a.csv"), "old target");
  EXPECT_EQ(ReadFile(in_ + "a.xls"), "source");
  EXPECT_EQ(batch->FailureCount.load(), 1);
  EXPECT_EQ(batch->SuccessCount.load(), 0);
  EXPECT_EQ(batch->FailureTexts(), std::vector<std::string>{"The file is corrupt"});
  EXPECT_EQ(excel_->CountOf("book.Close(false)"), 0);
}

TEST_F(TabrixTest, SaveFailureAfterTheOldTargetWasDeletedClosesTheWorkbook) {
  Options({"AllSheets=0", "Sheet=9"});
  WriteFile(in_ + "a.xls");
  WriteFile(out_ + "a.csv", "old target");
  auto batch = BatchOf({in_ + "a.xls"}, in_);
  RunChain(batch);
  EXPECT_EQ(reports_, std::vector<std::string>{"2|" + in_ + "a.xls|Invalid index"});
  EXPECT_FALSE(Exists(out_ + "a.csv"));
  EXPECT_EQ(excel_->CountOf("book.Close(false)"), 1);
  EXPECT_EQ(batch->FailureCount.load(), 1);
}

TEST_F(TabrixTest, SkippedEntryOpensNothingAndCountsNothing) {
  Options({"IsOverwrite=Skip"});
  WriteFile(in_ + "a.xls");
  WriteFile(out_ + "a.csv", "old target");
  auto batch = BatchOf({in_ + "a.xls"}, in_);
  RunChain(batch);
  EXPECT_EQ(reports_, std::vector<std::string>{"1|" + in_ + "a.xls|"});
  EXPECT_EQ(excel_->AppsCreated(), 0);
  EXPECT_EQ(ReadFile(out_ + "a.csv"), "old target");
  EXPECT_EQ(batch->FailureCount.load(), 0);
  EXPECT_EQ(batch->SuccessCount.load(), 0);
}

TEST_F(TabrixTest, AnotherNameWhenOverwriteIsOff) {
  Options({"IsOverwrite=false"});
  WriteFile(in_ + "a.xls");
  WriteFile(out_ + "a.csv", "old target");
  WriteFile(out_ + "-tabrix-a.csv", "older");
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.ResultText, out_ + "-tabrix-a.csv");
  EXPECT_EQ(ReadFile(out_ + "a.csv"), "old target");
  EXPECT_NE(ReadFile(out_ + "-tabrix-a.csv"), "older");
}

TEST_F(TabrixTest, ReplacedWhenOverwriteIsOn) {
  WriteFile(in_ + "a.xls");
  WriteFile(out_ + "a.csv", "old target");
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.ResultText, out_ + "a.csv");
  EXPECT_NE(ReadFile(out_ + "a.csv"), "old target");
}

TEST_F(TabrixTest, FailedEntriesDoNotStopTheWorker) {
  for (const char* n : {"a", "b", "c"}) WriteFile(in_ + n + ".xls");
  auto batch = BatchOf({in_ + "a.xls", in_ + "missing.xls", in_ + "b.xls", in_ + "c.xls"}, in_);
  excel_->failures.push_back({"book", "SaveAs", "b.csv", {au::kException, ""}});
  RunChain(batch);
  ASSERT_EQ(reports_.size(), 4u);
  EXPECT_EQ(reports_[0], "1|" + in_ + "a.xls|" + out_ + "a.csv");
  EXPECT_EQ(reports_[1], "2|" + in_ + "missing.xls|Sorry, we couldn't find " + in_ +
                             "missing.xls. Is it possible it was moved, renamed or deleted?");
  EXPECT_EQ(reports_[2], "2|" + in_ + "b.xls|Exception occurred");
  EXPECT_EQ(reports_[3], "1|" + in_ + "c.xls|" + out_ + "c.csv");
  EXPECT_EQ(batch->SuccessCount.load(), 2);
  EXPECT_EQ(batch->FailureCount.load(), 2);
  // The application was started once and every opened workbook closed once.
  EXPECT_EQ(excel_->AppsCreated(), 1);
  EXPECT_EQ(excel_->CountOf("book.Close(false)"), 3);
}

}  // namespace
}  // namespace tabrix_test
