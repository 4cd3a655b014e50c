// The unattended run end to end, against the scripted application: result lines
// and the log file, the counters, the error report, and the runs that convert
// nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "convert/convert_env.h"
#include "core/voInfo.h"
#include "core/voMain.h"
#include "core/voProject.h"
#include "platform/error.h"
#include "platform/text.h"

namespace tabrix_test {
namespace {

class UnattendedTest : public ConvertEnv {
 protected:
  void SetUp() override {
    ConvertEnv::SetUp();
    voMain = new TvoMain;
    log_ = dir_ + "run.log";  // its folder exists: the run does not create it
    Options({"Source=" + in_ + "*.xlsx", "Target=" + dir_ + "out", "PureConsole=1", "LogFile=" + log_});
  }
  void TearDown() override {
    delete voMain;
    voMain = nullptr;
    ConvertEnv::TearDown();
  }
  std::vector<std::string> LogLines() const {
    return platform::text::split_lines(ReadFile(log_));
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  std::string log_;
};

TEST_F(UnattendedTest, ConvertsEverythingFoundAndReportsFailuresOnce) {
  Options({"ThreadsCount=3"});
  for (const char* n : {"a", "b", "c", "bad1", "bad2"}) WriteFile(in_ + n + ".xlsx");
  WriteFile(in_ + "~$a.xlsx");   // a lock file, never an entry
  WriteFile(in_ + "notes.txt");  // not matched by the mask
  const std::string why = "Can't read \"it\", really?";
  excel_->failures.push_back({"workbooks", "Open", "bad", {au::kException, why + ". "}});

  voMain->Run();

  const std::vector<std::string> expected = {
      "Failure => " + in_ + "bad1.xlsx => " + why, "Failure => " + in_ + "bad2.xlsx => " + why,
      "Success => " + in_ + "a.xlsx => " + out_ + "a.csv",  "Success => " + in_ + "b.xlsx => " + out_ + "b.csv",
      "Success => " + in_ + "c.xlsx => " + out_ + "c.csv",
  };
  // The log holds the lines in the order of the reports, each ended by CR LF.
  EXPECT_EQ(LogLines(), voMain->Log());
  EXPECT_EQ(Sorted(voMain->Log()), Sorted(expected));
  EXPECT_EQ(ReadFile(log_).substr(ReadFile(log_).size() - 2), "\r\n");
  EXPECT_EQ(platform::text::join_lines(voMain->Log()).size(), ReadFile(log_).size());

  EXPECT_EQ(voInfo->GetValue("C"), "1");
  EXPECT_EQ(voInfo->GetValue("A"), "5");
  EXPECT_EQ(voInfo->GetValue("S"), "3");
  EXPECT_EQ(voInfo->GetValue("F"), "2");

  // One report, the text listed once, quoted (then stripped of its quotes by the
  // link builder), with "%3F" for "?".
  ASSERT_EQ(links_.size(), 1u);
  EXPECT_NE(links_[0].find("/net/?a=err&e=Can't read it, really%3F&p=tabrix"), std::string::npos) << links_[0];
  EXPECT_EQ(links_[0].find("really?"), std::string::npos);

  // Three workers, each with its own application, each quit once.
  EXPECT_LE(excel_->AppsCreated(), 3);
  EXPECT_EQ(excel_->CountOf("app.Quit()"), excel_->AppsCreated());
  EXPECT_EQ(LiveWorkers.load(), 0);
}

TEST_F(UnattendedTest, NoReportWithoutFailures) {
  for (const char* n : {"a", "b"}) WriteFile(in_ + n + ".xlsx");
  voMain->Run();
  EXPECT_TRUE(links_.empty());
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(voInfo->GetValue("F"), "0");
  EXPECT_EQ(voInfo->GetValue("S"), "2");
}

TEST_F(UnattendedTest, NothingFoundWritesAnEmptyLog) {
  WriteFile(log_, "an older log");
  Options({"ThreadsCount=0"});
  voMain->Run();
  EXPECT_TRUE(Exists(log_));
  EXPECT_EQ(ReadFile(log_), "");
  EXPECT_TRUE(links_.empty());
  EXPECT_EQ(voInfo->GetValue("A"), "0");
  EXPECT_EQ(voInfo->GetValue("S"), "0");
  EXPECT_EQ(voInfo->GetValue("F"), "0");
  EXPECT_EQ(voInfo->GetValue("C"), "1");
  EXPECT_EQ(excel_->AppsCreated(), 0);
}

TEST_F(UnattendedTest, SubfoldersWithSubdir) {
  WriteFile(in_ + "a.xlsx");
  WriteFile(in_ + "sub/b.xlsx");
  Options({"Subdir=1"});
  voMain->Run();
  EXPECT_EQ(Sorted(LogLines()), Sorted({"Success => " + in_ + "a.xlsx => " + out_ + "a.csv",
                                        "Success => " + in_ + "sub/b.xlsx => " + out_ + "sub/b.csv"}));
}

TEST_F(UnattendedTest, SkippedTargetGivesAnEmptyThirdField) {
  WriteFile(in_ + "a.xlsx");
  WriteFile(out_ + "a.csv", "old");
  Options({"IsOverwrite=skip"});
  voMain->Run();
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Success => " + in_ + "a.xlsx => "});
  EXPECT_EQ(voInfo->GetValue("S"), "0");
  EXPECT_EQ(voInfo->GetValue("A"), "1");
}

TEST_F(UnattendedTest, NoLogFileOptionWritesNoFile) {
  WriteFile(in_ + "a.xlsx");
  Options({"LogFile="});
  voMain->Run();
  EXPECT_FALSE(Exists(log_));
  EXPECT_EQ(voMain->Log().size(), 1u);
  EXPECT_EQ(voInfo->GetValue("S"), "1");
}

TEST_F(UnattendedTest, EmptyTargetConvertsNothingAndRaises) {
  WriteFile(in_ + "a.xlsx");
  Options({"Target="});
  try {
    voMain->Run();
    FAIL() << "no error";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
  EXPECT_EQ(excel_->AppsCreated(), 0);
  EXPECT_FALSE(Exists(log_));
}

TEST_F(UnattendedTest, LogFileThatCannotBeWrittenRaisesAfterTheCounters) {
  WriteFile(in_ + "a.xlsx");
  WriteFile(dir_ + "plain", "x");
  Options({"LogFile=" + dir_ + "plain/run.log"});
  EXPECT_THROW(voMain->Run(), platform::Exception);
  EXPECT_EQ(voInfo->GetValue("S"), "1");
}

TEST(UnattendedLines, ResultLine) {
  TvoNode node;
  node.SourceFile = "/in/a.xls";
  node.ResultText = "/out/a.csv";
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {1, "Success"}, {2, "Failure"}, {0, "Running"}, {7, "Running"}, {-1, "Running"}};
  for (const auto& [status, word] : cases) {
    node.Status = status;
    EXPECT_EQ(TvoMain::ResultLine(node), word + " => /in/a.xls => /out/a.csv");
  }
}

TEST(UnattendedLines, CommaText) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, ""},
      {{""}, "\"\""},
      {{"", ""}, ","},
      {{"a", "b"}, "a,b"},
      {{"two words"}, "\"two words\""},
      {{"a,b"}, "\"a,b\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"what?", "ok"}, "what?,ok"},
      {{"é"}, "é"},
  };
  for (const auto& [texts, expected] : cases) EXPECT_EQ(TvoMain::CommaText(texts), expected);
}

}  // namespace
}  // namespace tabrix_test
