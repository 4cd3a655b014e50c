// Target naming, existing targets, folder creation and the treatment of the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>


#include "convert/convert_env.h"
#include "convert/voTabrix.h"
#include "core/voProject.h"
#include "platform/file.h"
#include "platform/path.h"

namespace tabrix_test {
namespace {

class NamingTest : public ConvertEnv {
 protected:
  // TargetFileName of one entry, on this thread (no application involved).
  std::string Name(const std::string& source, const std::string& source_dir, TvoNode* out_node = nullptr) {
    auto batch = BatchOf({source}, source_dir);
    batch->TargetDir = out_;
    auto worker = std::make_shared<TvoTabrix>(batch, 1, nullptr);
    TvoNodeList& list = batch->LockList();
    TvoNode* node = list.at(0).get();
    batch->UnlockList();
    std::string name = worker->TargetFileName(batch.get(), node);
    if (out_node) *out_node = *node;
    failures_ = batch->FailureTexts();
    failure_count_ = batch->FailureCount.load();
    return name;
  }
  std::vector<std::string> failures_;
  int failure_count_ = 0;
};

TEST_F(NamingTest, NamesFromTheSource) {
  struct Case {
    const char* keep_subdirs;
    std::string source;
    std::string source_dir;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", in_ + "sub/a.xlsx", in_, out_ + "sub/a.csv"},
      {"True", in_ + "sub/deeper/a.xlsx", in_, out_ + "sub/deeper/a.csv"},
      {"0", in_ + "sub/a.xlsx", in_, out_ + "a.csv"},
      {"", in_ + "a.b.xls", in_, out_ + "a.b.csv"},
      {"", in_ + "noext", in_, out_ + "noext.csv"},
      {"", in_ + "a:b.xls", in_, out_ + "a:b.csv"},
      {"", in_ + "sub.d/book", in_, out_ + "sub.d/book.csv"},
      // Added by hand: no source folder, the file name alone.
      {"", in_ + "sub/a.xlsx", "", out_ + "a.csv"},
      // An address: the text after the scheme's ":" with "/" and ":" turned into "_".
      {"", "http://h/dir/book.xls", "", out_ + "__h_dir_book.csv"},
      {"0", "https://h:8080/x/y.xlsx", "", out_ + "__h_8080_x_y.csv"},
  };
  for (const auto& c : cases) {
    voProject->SetValue("KeepTargetSubdirs", c.keep_subdirs);
    EXPECT_EQ(Name(c.source, c.source_dir), c.expected) << c.source << " keep=" << c.keep_subdirs;
  }
  EXPECT_TRUE(platform::path::dir_exists(out_ + "sub/deeper/"));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(NamingTest, AddressRule) {
  EXPECT_EQ(voAddressFileName("http://h/dir/book.xls"), "__h_dir_book.xls");
  EXPECT_EQ(voAddressFileName("ftp://x/a"), "__x_a");
  EXPECT_EQ(voAddressFileName("/home/u/a:b.xls"), "");
  EXPECT_EQ(voAddressFileName("a:b.xls"), "");
  EXPECT_EQ(voAddressFileName("1http://x"), "");
}

TEST_F(NamingTest, ExistingTargetByIsOverwrite) {
  struct Case {
    const char* value;
    std::string expected;  // "" = skipped
  };
  const std::vector<Case> cases = {
      {"", out_ + "a.csv"},       {"True", out_ + "a.csv"},          {"yes?", out_ + "a.csv"},
      {"skip", ""},               {"SKIP", ""},                      {"Skip", ""},
      {"False", out_ + "-tabrix-a.csv"}, {"0", out_ + "-tabrix-a.csv"},
  };
  WriteFile(out_ + "a.csv", "old");
  WriteFile(out_ + "-tabrix-a.csv", "older");  // not tested again
  for (const auto& c : cases) {
    voProject->SetValue("IsOverwrite", c.value);
    TvoNode node;
    EXPECT_EQ(Name(in_ + "a.xls", in_, &node), c.expected) << c.value;
    EXPECT_EQ(node.Status, c.expected.empty() ? TvoNode::Success : TvoNode::Running) << c.value;
    EXPECT_EQ(node.ResultText, "");
  }
}

TEST_F(NamingTest, FolderThatCannotBeCreatedIsRecordedAndNamingGoesOn) {
  WriteFile(dir_ + "plain", "a file, not a folder");
  const std::string blocked = dir_ + "plain/sub/";
  auto batch = BatchOf({in_ + "a.xls", in_ + "b.xls"}, in_);
  batch->TargetDir = blocked;
  auto worker = std::make_shared<TvoTabrix>(batch, 1, nullptr);
  TvoNodeList& list = batch->LockList();
  TvoNode* a = list.at(0).get();
  TvoNode* b = list.at(1).get();
  batch->UnlockList();
  EXPECT_EQ(worker->TargetFileName(batch.get(), a), blocked + "a.csv");
  EXPECT_EQ(worker->TargetFileName(batch.get(), b), blocked + "b.csv");
  EXPECT_EQ(batch->FailureCount.load(), 2);
  EXPECT_EQ(batch->FailureTexts(), std::vector<std::string>{"CreateDir Failed: " + blocked});
}

TEST_F(NamingTest, CreateDirFailureCountsOnceInTheListAndTheEntriesFail) {
  WriteFile(dir_ + "plain", "x");
  WriteFile(in_ + "a.xls");
  WriteFile(in_ + "b.xls");
  voProject->SetValue("Target", "");
  auto batch = BatchOf({in_ + "a.xls", in_ + "b.xls"}, in_);
  out_ = dir_ + "plain/sub/";
  RunChain(batch);
  const auto texts = batch->FailureTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "CreateDir Failed: " + out_);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "CreateDir Failed: " + out_), 1);
  EXPECT_EQ(texts[1], "Cannot access '" + out_ + "a.csv'");
  EXPECT_EQ(batch->FailureCount.load(), 4);  // each entry: the folder and its save
  EXPECT_EQ(batch->SuccessCount.load(), 0);
}

TEST_F(NamingTest, CopyFileTimeCopiesAccessAndModificationTimes) {
  WriteFile(in_ + "src", "s");
  WriteFile(out_ + "dst", "d");
  platform::file::Times t{};
  t.access.tv_sec = 1000000000;
  t.modification.tv_sec = 1200000000;
  ASSERT_TRUE(platform::file::set_times(in_ + "src", t));
  EXPECT_TRUE(TvoConvertor::CopyFileTime(in_ + "src", out_ + "dst"));
  const auto got = platform::file::get_times(out_ + "dst");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->modification.tv_sec, 1200000000);
  EXPECT_EQ(got->access.tv_sec, 1000000000);
  EXPECT_FALSE(TvoConvertor::CopyFileTime(in_ + "missing", out_ + "dst"));
  EXPECT_FALSE(TvoConvertor::CopyFileTime(in_ + "src", out_ + "missing"));
  EXPECT_FALSE(Exists(out_ + "missing"));
}

// The source is treated only after a complete success.
class SourceTreatment : public ConvertEnv {
 protected:
  void SetUp() override {
    ConvertEnv::SetUp();
    WriteFile(in_ + "a.xls", "source");
    platform::file::Times t{};
    t.access.tv_sec = 1100000000;
    t.modification.tv_sec = 1300000000;
    platform::file::set_times(in_ + "a.xls", t);
  }
  bool HasSourceTimes(const std::string& path) {
    const auto got = platform::file::get_times(path);
    return got && got->modification.tv_sec == 1300000000;
  }
};

TEST_F(SourceTreatment, KeepFileTimeAfterSuccess) {
  Options({"KeepFileTime=1"});
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Success);
  EXPECT_TRUE(HasSourceTimes(out_ + "a.csv"));
  EXPECT_TRUE(Exists(in_ + "a.xls"));
}

TEST_F(SourceTreatment, DeleteSourceAfterSuccess) {
  Options({"DeleteSource=True"});
  EXPECT_EQ(ConvertOne(in_ + "a.xls", in_).Status, TvoNode::Success);
  EXPECT_FALSE(Exists(in_ + "a.xls"));
  EXPECT_TRUE(Exists(out_ + "a.csv"));
}

TEST_F(SourceTreatment, RenameSourceAfterSuccess) {
  Options({"RenameSource=.done"});
  EXPECT_EQ(ConvertOne(in_ + "a.xls", in_).Status, TvoNode::Success);
  EXPECT_FALSE(Exists(in_ + "a.xls"));
  EXPECT_EQ(ReadFile(in_ + "a.xls.done"), "source");
}

TEST_F(SourceTreatment, DeleteAndRenameTogetherLeaveNothing) {
  Options({"RenameSource=.done", "DeleteSource=1"});
  EXPECT_EQ(ConvertOne(in_ + "a.xls", in_).Status, TvoNode::Success);
  EXPECT_FALSE(Exists(in_ + "a.xls"));
  EXPECT_FALSE(Exists(in_ + "a.xls.done"));
}

TEST_F(SourceTreatment, NothingHappensToTheSourceAfterAFailedSave) {
  Options({"KeepFileTime=1", "DeleteSource=1", "RenameSource=.done"});
  excel_->failures.push_back({"book", "SaveAs", "", {au::kException, "Disk full."}});
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Failure);
  EXPECT_EQ(node.ResultText, "Disk full");
  EXPECT_EQ(ReadFile(in_ + "a.xls"), "source");
  EXPECT_TRUE(HasSourceTimes(in_ + "a.xls"));
  EXPECT_FALSE(Exists(in_ + "a.xls.done"));
}

TEST_F(SourceTreatment, NothingHappensToTheSourceAfterAFailedSheetSave) {
  Options({"DeleteSource=1", "Sheet=-1"});
  excel_->failures.push_back({"sheet3", "SaveAs", "", {au::kException, "No room"}});
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Failure);
  EXPECT_TRUE(Exists(in_ + "a.xls"));
  // The sheets saved before the failure stay on disk.
  EXPECT_TRUE(Exists(out_ + "Sheet1_a.csv"));
  EXPECT_TRUE(Exists(out_ + "Sheet2_a.csv"));
  EXPECT_FALSE(Exists(out_ + "Sheet3_a.csv"));
}

TEST_F(SourceTreatment, FailuresOfTheTreatmentLeaveASuccess) {
  // The renamed name is taken already: the move replaces nothing and fails.
  WriteFile(in_ + "a.xls.done", "taken");
  Options({"RenameSource=.done"});
  const TvoNode node = ConvertOne(in_ + "a.xls", in_);
  EXPECT_EQ(node.Status, TvoNode::Success);
  EXPECT_EQ(node.ResultText, out_ + "a.csv");
  EXPECT_EQ(ReadFile(in_ + "a.xls"), "source");
  EXPECT_EQ(ReadFile(in_ + "a.xls.done"), "taken");
}

}  // namespace
}  // namespace tabrix_test
