// The automation connection: the calls for each workbook, Open's arguments, the
// application's start and end, ParseVersion, AppExeName and HasMacros.
#include <gtest/gtest.h>

#include "convert/convert_env.h"
#include "convert/voTabrix.h"
#include "core/voInfo.h"
#include "core/voProject.h"

namespace tabrix_test {
namespace {

class ExcelOleTest : public ConvertEnv {};

TEST_F(ExcelOleTest, OneWorkerStartsTheApplicationOnceAndQuitsItOnce) {
  for (const char* n : {"a", "b", "c"}) WriteFile(in_ + n + ".xls");
  auto batch = BatchOf({in_ + "a.xls", in_ + "b.xls", in_ + "c.xls"}, in_);
  RunChain(batch);
  const std::string open_args = ",missing,false)";
  const std::vector<std::string> expected = {
      "create",
      "app.Version()",
      "app.DisplayAlerts[put](false)",
      "app.Workbooks()",
      "workbooks.Open(\"" + in_ + "a.xls\"" + open_args,
      "book.SaveAs(\"" + out_ + "a.csv\",6)",
      "book.Close(false)",
      "app.Workbooks()",
      "workbooks.Open(\"" + in_ + "b.xls\"" + open_args,
      "book.SaveAs(\"" + out_ + "b.csv\",6)",
      "book.Close(false)",
      "app.Workbooks()",
      "workbooks.Open(\"" + in_ + "c.xls\"" + open_args,
      "book.SaveAs(\"" + out_ + "c.csv\",6)",
      "book.Close(false)",
      "app.Quit()",
  };
  EXPECT_EQ(excel_->Texts(), expected);
  // Every call ran on the worker's thread.
  const auto calls = excel_->Calls();
  for (const auto& c : calls) EXPECT_EQ(c.thread, calls.front().thread);
  EXPECT_NE(calls.front().thread, std::this_thread::get_id());
  EXPECT_EQ(voInfo->GetValue("W"), "16");
}

TEST_F(ExcelOleTest, ApplicationQuitsBeforeOnFinish) {
  WriteFile(in_ + "a.xls");
  auto batch = BatchOf({in_ + "a.xls"}, in_);
  auto first = TvoConvertor::CreateWorkers(batch, out_, nullptr);
  int quits_seen = -1;
  first->SetOnFinish([&] { quits_seen = excel_->CountOf("app.Quit()"); });
  first->StartChain();
  WaitChain(first);
  EXPECT_EQ(quits_seen, 1);
}

TEST_F(ExcelOleTest, WorkerWithoutEntriesNeverStartsTheApplication) {
  RunChain(BatchOf({}));
  EXPECT_EQ(excel_->AppsCreated(), 0);
  EXPECT_TRUE(excel_->Texts().empty());
}

TEST_F(ExcelOleTest, OpenArgumentsByReadOnlyAndSkipPassword) {
  struct Case {
    const char* read_only;
    const char* skip_password;
    std::string args;
  };
  const std::string pw = std::to_string(kDummyPassword);
  const std::vector<Case> cases = {
      {"", "", "missing,false)"},
      {"True", "", "missing,true)"},
      {"1", "0", "missing,true)"},
      {"", "True", "missing,true,missing," + pw + ")"},
      {"False", "1", "missing,true,missing," + pw + ")"},
      {"True", "True", "missing,true,missing," + pw + ")"},
  };
  static_assert(kDummyPassword >= 10 && kDummyPassword <= 99);
  WriteFile(in_ + "a.xls");
  for (const auto& c : cases) {
    Options({std::string("ReadOnly=") + c.read_only, std::string("SkipPassword=") + c.skip_password});
    excel_.reset();
    excel_ = ScriptedExcel::Install();
    ConvertOne(in_ + "a.xls", in_);
    EXPECT_EQ(excel_->CountOf("workbooks.Open(\"" + in_ + "a.xls\"," + c.args), 1)
        << c.read_only << "/" << c.skip_password;
  }
}

TEST_F(ExcelOleTest, ApplicationThatCannotBeCreatedFailsEveryEntryAndIsTriedAgain) {
  excel_->create_failure = au::ObjectError{au::kClassNotRegistered, ""};
  for (const char* n : {"a", "b"}) WriteFile(in_ + n + ".xls");
  auto batch = BatchOf({in_ + "a.xls", in_ + "b.xls"}, in_);
  RunChain(batch);
  const std::string text = "Class not registered, ProgID: \"Excel.Application\"";
  EXPECT_EQ(reports_, (std::vector<std::string>{"2|" + in_ + "a.xls|" + text, "2|" + in_ + "b.xls|" + text}));
  EXPECT_EQ(excel_->CountOf("create failed"), 2);
  EXPECT_EQ(batch->FailureCount.load(), 2);
  EXPECT_EQ(batch->FailureTexts(), std::vector<std::string>{text});
}

TEST_F(ExcelOleTest, MissingApplicationClass) {
  excel_.reset();  // unregisters "Excel.Application"
  WriteFile(in_ + "a.xls");
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Failure);
  EXPECT_EQ(node.ResultText, "Invalid class string, ProgID: \"Excel.Application\"");
}

TEST_F(ExcelOleTest, VersionAndAlertFailuresAreIgnored) {
  excel_->failures.push_back({"app", "Version", "", {au::kException, "no version"}});
  excel_->failures.push_back({"app", "DisplayAlerts", "", {au::kException, "no alerts"}});
  excel_->failures.push_back({"book", "Close", "", {au::kException, "cannot close"}});
  excel_->failures.push_back({"app", "Quit", "", {au::kException, "cannot quit"}});
  WriteFile(in_ + "a.xls");
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Success);
  EXPECT_EQ(node.ResultText, out_ + "a.csv");
  EXPECT_EQ(voInfo->GetValue("W"), "");
}

TEST_F(ExcelOleTest, ParseVersion) {
  struct Case {
    au::Variant value;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {au::Variant("16.0"), 16}, {au::Variant("12.0"), 12}, {au::Variant(16.0), 16},
      {au::Variant(std::int32_t{160}), 16}, {au::Variant("160"), 16}, {au::Variant("77"), 77},
      {au::Variant("78"), 7}, {au::Variant("9.0"), 9}, {au::Variant("abc"), 0},
      {au::Variant("16.0.1"), 0}, {au::Variant(""), 0}, {au::Variant(), 0},
      {au::Variant::null(), 0}, {au::Variant("1.6.0"), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TvoExcelOle::ParseVersion(c.value), c.expected) << ScriptedExcel::Render(c.value);
  }
}

TEST_F(ExcelOleTest, VersionCounterTakesTheMajorVersion) {
  excel_->version = au::Variant("12.0");
  WriteFile(in_ + "a.xls");
  ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(voInfo->GetValue("W"), "12");
}

// A converter that also asks AppExeName and HasMacros while its workbook is open.
struct Asking : TvoExcelOle {
  using TvoExcelOle::TvoExcelOle;
  std::string exe;
  bool macros = false;
  void Convert(TvoBatch*, TvoNode* node) override {
    OpenWorkbook(node->SourceFile);
    exe = AppExeName();
    macros = HasMacros();
    CloseWorkbook();
    CloseWorkbook();  // nothing open: nothing happens
  }
};

TEST_F(ExcelOleTest, AppExeNameAndHasMacros) {
  struct Case {
    au::Variant version;
    bool macros;
    int asked;
  };
  const std::vector<Case> cases = {{au::Variant("16.0"), false, 1}, {au::Variant("11.0"), true, 0}};
  WriteFile(in_ + "a.xls");
  for (const auto& c : cases) {
    excel_.reset();
    excel_ = ScriptedExcel::Install();
    excel_->version = c.version;
    std::shared_ptr<Asking> worker;
    voProject->FConverterClass = [&](std::shared_ptr<TvoBatch> b, std::int32_t n, TvoNodeEvent e) {
      worker = std::make_shared<Asking>(std::move(b), n, std::move(e));
      return std::static_pointer_cast<TvoConvertor>(worker);
    };
    RunChain(BatchOf({in_ + "a.xls"}, in_));
    EXPECT_EQ(worker->exe, "/opt/office/EXCEL.EXE");
    EXPECT_EQ(worker->macros, c.macros);
    EXPECT_EQ(excel_->CountOf("book.HasVBProject()"), c.asked);
    EXPECT_EQ(excel_->CountOf("book.Close(false)"), 1);
  }
}

TEST_F(ExcelOleTest, HasMacrosFallsBackWhenTheWorkbookCannotTell) {
  excel_->failures.push_back({"book", "HasVBProject", "", {au::kException, "no"}});
  WriteFile(in_ + "a.xls");
  std::shared_ptr<Asking> worker;
  voProject->FConverterClass = [&](std::shared_ptr<TvoBatch> b, std::int32_t n, TvoNodeEvent e) {
    worker = std::make_shared<Asking>(std::move(b), n, std::move(e));
    return std::static_pointer_cast<TvoConvertor>(worker);
  };
  RunChain(BatchOf({in_ + "a.xls"}, in_));
  EXPECT_TRUE(worker->macros);
}

TEST_F(ExcelOleTest, StartupStepSetsTheProductConstants) {
  TvoProject project;
  voSkipLockFiles.store(false);
  voTabrixStartup(project);
  EXPECT_TRUE(voSkipLockFiles.load());
  EXPECT_EQ(project.FSourceMask, "*.xls?");
  EXPECT_EQ(project.FSourceFilter, "Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx");
  EXPECT_EQ(project.FTargetExt, ".csv");
  EXPECT_EQ(project.FProductId, "tabrix");
  EXPECT_EQ(project.FProjectExt, ".batch-tabrix");
  EXPECT_EQ(project.FProjectFilter, "Tabrix Project|*.batch-tabrix");
  EXPECT_EQ(project.FTitle, "Tabrix Converter");
  EXPECT_EQ(project.FVersion, "2020.12.1118.2541");
  EXPECT_EQ(project.FTargetExt2, "");
  EXPECT_EQ(project.FMacroExt, "");
  ASSERT_TRUE(static_cast<bool>(project.FConverterClass));
  auto worker = project.FConverterClass(std::make_shared<TvoBatch>(), 1, nullptr);
  EXPECT_NE(dynamic_cast<TvoTabrix*>(worker.get()), nullptr);
}

}  // namespace
}  // namespace tabrix_test
