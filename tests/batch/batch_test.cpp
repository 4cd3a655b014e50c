// The batch: folder search on its own thread (order, hidden files and folders,
// lock files, links back up the tree, stopping), direct additions, the hand-out of
// entries to several workers, result counters and path normalisation.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch/voBatch.h"
#include "batch/voMatch.h"
#include "core/voProject.h"
#include "platform/error.h"
#include "platform/path.h"

namespace fs = std::filesystem;

namespace {

// A scratch folder per test, the regular-expression matcher, lock files skipped
// (as in the running program) and a project of our own whose options the test sets.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tabrix-batch-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    Root = buf.data();
    fs::create_directories(Root + "/bin");
    platform::path::set_program_file_for_testing(Root + "/bin/tabrix");
    SavedProject = voProject;
    Project = std::make_unique<TvoProject>();
    voProject = Project.get();
    SavedMatcher = Matcher;
    Matcher = &RegexMatcher;
    SavedSkipLock = voSkipLockFiles.load();
    voSkipLockFiles = true;
  }
  void TearDown() override {
    voSkipLockFiles = SavedSkipLock;
    Matcher = SavedMatcher;
    voProject = SavedProject;
    Project.reset();
    platform::path::set_program_file_for_testing("");
    std::error_code ec;
    fs::remove_all(Root, ec);
  }

  // Creates a file (and its folders) below the source folder "src".
  void Touch(const std::string& rel) {
    const fs::path p = fs::path(Src()) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  void MakeDir(const std::string& rel) { fs::create_directories(fs::path(Src()) / rel); }
  std::string Src() const { return Root + "/src/"; }
  std::string Out() const { return Root + "/out"; }

  // Runs a whole search and returns the source paths, relative to "src", in entry order.
  std::vector<std::string> Run(const std::string& mask, bool subdir) {
    auto batch = std::make_shared<TvoBatch>();
    batch->Start(Src() + mask, Out(), subdir);
    batch->wait();
    EXPECT_TRUE(batch->IsSearchDone());
    return Entries(*batch);
  }
  std::vector<std::string> Entries(TvoBatch& batch) {
    std::vector<std::string> r;
    TvoNodeList& nodes = batch.LockList();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      EXPECT_EQ(nodes[i]->Index, static_cast<std::int32_t>(i));
      EXPECT_EQ(nodes[i]->Status, TvoNode::Running);
      EXPECT_EQ(nodes[i]->ResultText, "");
      const std::string& s = nodes[i]->SourceFile;
      r.push_back(s.starts_with(Src()) ? s.substr(Src().size()) : s);
    }
    batch.UnlockList();
    return r;
  }

  // The usual source tree: own files in mixed case, a lock file, a hidden file,
  // a folder named like a workbook, nested and hidden folders.
  void MakeTree() {
    for (const char* f : {"b.xls", "A.xls", "c.XLSX", "note.txt", "~$A.xls", ".hidden.xls", "Old.xls/inner.xls",
                          "beta/y.xls", "Alpha/x.xlsm", "Alpha/deep/z.xls", "Alpha/a.xls", ".git/h.xls",
                          "beta/.h2.xls"})
      Touch(f);
  }

  std::string Root;
  std::unique_ptr<TvoProject> Project;
  TvoProject* SavedProject = nullptr;
  TvoMatch RegexMatcher;
  TvoMatchBase* SavedMatcher = nullptr;
  bool SavedSkipLock = false;
};

using Paths = std::vector<std::string>;

TEST_F(BatchTest, OwnFilesFirstThenSubfoldersDepthFirstInCaseInsensitiveOrder) {
  MakeTree();
  EXPECT_EQ(Run("*.xls?", true), (Paths{".hidden.xls", "A.xls", "b.xls", "c.XLSX", "Alpha/a.xls", "Alpha/x.xlsm",
                                        "Alpha/deep/z.xls", "beta/.h2.xls", "beta/y.xls", "Old.xls/inner.xls"}));
}

TEST_F(BatchTest, WithoutSubdirOnlyTheFolderItselfAndNeverAFolderEntry) {
  MakeTree();
  EXPECT_EQ(Run("*.xls?", false), (Paths{".hidden.xls", "A.xls", "b.xls", "c.XLSX"}));
}

TEST_F(BatchTest, SkipHiddenLeavesOutHiddenFilesHiddenFoldersAreNeverEntered) {
  MakeTree();
  Project->SetValue("SkipHidden", "True");
  EXPECT_EQ(Run("*.xls?", true), (Paths{"A.xls", "b.xls", "c.XLSX", "Alpha/a.xls", "Alpha/x.xlsm",
                                        "Alpha/deep/z.xls", "beta/y.xls", "Old.xls/inner.xls"}));
}

TEST_F(BatchTest, LockFilesOnlyWhileTheSwitchIsOff) {
  Touch("~$A.xls");
  Touch("A.xls");
  EXPECT_EQ(Run("*.xls", false), (Paths{"A.xls"}));
  voSkipLockFiles = false;
  EXPECT_EQ(Run("*.xls", false), (Paths{"A.xls", "~$A.xls"}));
}

TEST_F(BatchTest, RegExtFromTheProjectNarrowsTheMask) {
  Touch("2020/a.xls");
  Touch("b2020.xlsx");
  Touch("b2021.xlsx");
  Touch("c2020.csv");
  Project->SetValue("RegExt", "2020");
  EXPECT_EQ(Run("*.xls?", true), (Paths{"b2020.xlsx", "2020/a.xls"}));
  Project->SetValue("RegExt", "(");  // invalid: the mask alone decides
  EXPECT_EQ(Run("*.xls?", true), (Paths{"b2020.xlsx", "b2021.xlsx", "2020/a.xls"}));
}

TEST_F(BatchTest, ListingMaskAppliesToNamesWithTheWildcardMeaning) {
  for (const char* f : {"a.xls", "ab.xls", "abc.xls", "xa.xls", "data"}) Touch(f);
  EXPECT_EQ(Run("a?.xls", false), (Paths{"a.xls", "ab.xls"}));
}

TEST_F(BatchTest, SourceWithoutTrailingDelimiterMakesTheLastNameTheMask) {
  Touch("data/book.xls");
  Touch("data2");
  auto batch = std::make_shared<TvoBatch>();
  batch->Start(Root + "/src/data", Out(), true);
  batch->wait();
  EXPECT_EQ(batch->SourceDir, Src());
  EXPECT_EQ(batch->Mask, "data");
  // Files named "data" only; the folder "data" is searched (Subdir) but holds none.
  EXPECT_EQ(batch->Count(), 0);
}

TEST_F(BatchTest, FileAddressSourceIsNormalised) {
  Touch("a.xls");
  auto batch = std::make_shared<TvoBatch>();
  batch->Start("file://" + Src() + "*.xls?", "file://" + Out(), false);
  batch->wait();
  EXPECT_EQ(batch->SourceDir, Src());
  EXPECT_EQ(batch->Mask, "*.xls?");
  EXPECT_EQ(batch->TargetDir, Out());
  EXPECT_TRUE(platform::path::dir_exists(Out()));
  EXPECT_EQ(Entries(*batch), (Paths{"a.xls"}));
}

TEST_F(BatchTest, StartCreatesTheTargetFolderWithItsParents) {
  auto batch = std::make_shared<TvoBatch>();
  batch->Start(Src() + "*.xls", Out() + "/x/y", false);
  batch->wait();
  EXPECT_TRUE(platform::path::dir_exists(Out() + "/x/y"));
}

TEST_F(BatchTest, MissingSourceFolderGivesNoEntriesAndWorkersEnd) {
  auto batch = std::make_shared<TvoBatch>();
  batch->Start(Root + "/nowhere/*.xls", Out(), true);
  batch->wait();
  EXPECT_TRUE(batch->IsSearchDone());
  EXPECT_EQ(batch->Count(), 0);
  EXPECT_FALSE(batch->IsExhausted());
  EXPECT_EQ(batch->Next(), nullptr);
  EXPECT_TRUE(batch->IsExhausted());
  EXPECT_EQ(batch->Next(), nullptr);
}

TEST_F(BatchTest, EmptyTargetFailsAndTheBatchCountsAsSearched) {
  Touch("a.xls");
  auto batch = std::make_shared<TvoBatch>();
  try {
    batch->Start(Src() + "*.xls", "", false);
    FAIL() << "no error for an empty target";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
  EXPECT_FALSE(batch->started());
  EXPECT_EQ(batch->Mask, "");  // not split off
  EXPECT_TRUE(batch->IsSearchDone());
  // A worker started on it ends at once instead of waiting for ever.
  EXPECT_EQ(batch->Next(), nullptr);
  EXPECT_TRUE(batch->IsExhausted());
}

TEST_F(BatchTest, LinksBackUpTheTreeAreNotFollowedAgain) {
  Touch("a.xls");
  Touch("sub/b.xls");
  fs::create_directory_symlink(Src(), fs::path(Src()) / "sub" / "up");
  fs::create_directory_symlink(fs::path(Src()) / "sub", fs::path(Src()) / "twin");
  Touch("sub/c.xls");
  EXPECT_EQ(Run("*.xls", true), (Paths{"a.xls", "sub/b.xls", "sub/c.xls"}));
}

TEST_F(BatchTest, LinkToAFileIsAFile) {
  Touch("real/a.xls");
  fs::create_symlink(fs::path(Src()) / "real" / "a.xls", fs::path(Src()) / "b.xls");
  EXPECT_EQ(Run("*.xls", false), (Paths{"b.xls"}));
}

TEST_F(BatchTest, TerminateRequestStopsAfterTheEntryInHand) {
  for (const char* f : {"a.xls", "b.xls", "c.xls", "d/e.xls"}) Touch(f);
  auto batch = std::make_shared<TvoBatch>();
  batch->OnNodeAdded = [](TvoBatch* sender, TvoNode* node) {
    if (node->Index == 1) sender->terminate();
  };
  batch->Start(Src() + "*.xls", Out(), true);
  batch->wait();
  EXPECT_TRUE(batch->IsSearchDone());
  EXPECT_EQ(Entries(*batch), (Paths{"a.xls", "b.xls"}));
  // Entries already added are still handed out.
  ASSERT_NE(batch->Next(), nullptr);
  ASSERT_NE(batch->Next(), nullptr);
  EXPECT_EQ(batch->Next(), nullptr);
}

TEST_F(BatchTest, ErrorEscapingTheSearchStillEndsIt) {
  Touch("a.xls");
  Touch("b.xls");
  auto batch = std::make_shared<TvoBatch>();
  batch->OnNodeAdded = [](TvoBatch*, TvoNode*) { throw std::runtime_error("handler failed"); };
  batch->Start(Src() + "*.xls", Out(), false);
  batch->wait();
  EXPECT_TRUE(batch->IsSearchDone());
  EXPECT_EQ(batch->Count(), 1);
  EXPECT_NE(batch->Next(), nullptr);
  EXPECT_EQ(batch->Next(), nullptr);
}

TEST_F(BatchTest, NodeAddedRunsOnTheSearchThreadWithoutTheLock) {
  Touch("a.xls");
  Touch("b.xls");
  auto batch = std::make_shared<TvoBatch>();
  std::vector<std::string> seen;
  std::thread::id caller = std::this_thread::get_id();
  bool otherThread = true;
  batch->OnNodeAdded = [&](TvoBatch* sender, TvoNode* node) {
    otherThread = otherThread && std::this_thread::get_id() != caller;
    // The receiver may take the lock itself.
    sender->LockList();
    seen.push_back(node->SourceFile);
    sender->UnlockList();
  };
  batch->Start(Src() + "*.xls", Out(), false);
  batch->wait();
  EXPECT_TRUE(otherThread);
  EXPECT_EQ(seen, (Paths{Src() + "a.xls", Src() + "b.xls"}));
}

// A search that runs until it is asked to stop.
class EndlessBatch : public TvoBatch {
 public:
  std::promise<void> Running;
  ~EndlessBatch() override { Destroy(); }  // the body ends before this part goes

 protected:
  void Execute() override {
    Add("/first.xls");
    Running.set_value();
    while (!terminated()) platform::yield_thread();
  }
};

TEST(BatchStop, DestroyStopsARunningSearchAndKeepsItsEntries) {
  TvoMatchBase* saved = Matcher;
  Matcher = nullptr;
  auto batch = std::make_shared<EndlessBatch>();
  batch->start();
  batch->Running.get_future().wait();
  EXPECT_FALSE(batch->IsSearchDone());
  batch->Destroy();
  Matcher = saved;
  EXPECT_TRUE(batch->finished());
  EXPECT_TRUE(batch->IsSearchDone());
  ASSERT_NE(batch->Next(), nullptr);
  EXPECT_EQ(batch->Next(), nullptr);
}

TEST(BatchStop, FreeingARunningBatchStopsItsSearch) {
  {
    auto batch = std::make_shared<EndlessBatch>();
    batch->start();
    batch->Running.get_future().wait();
  }
  SUCCEED();
}

// A batch whose search adds a scripted list of entries once the workers are
// already waiting, so that the hand-out overlaps the search.
class ScriptedBatch : public TvoBatch {
 public:
  int Files = 0;
  std::atomic<int>* Waiting = nullptr;
  int Workers = 0;
  ~ScriptedBatch() override { Destroy(); }

 protected:
  void Execute() override {
    while (Waiting->load() < Workers) platform::yield_thread();
    for (int i = 0; i < Files && !terminated(); ++i) Add("/f/" + std::to_string(i) + ".xls");
  }
};

TEST(BatchHandOut, EveryEntryExactlyOnceInOrderWhileTheSearchAdds) {
  constexpr int kFiles = 2000;
  constexpr int kWorkers = 4;
  TvoMatchBase* saved = Matcher;
  Matcher = nullptr;
  auto batch = std::make_shared<ScriptedBatch>();
  std::atomic<int> waiting{0};
  batch->Files = kFiles;
  batch->Waiting = &waiting;
  batch->Workers = kWorkers;
  batch->start();

  std::vector<std::vector<std::int32_t>> got(kWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      ++waiting;
      while (TvoNode* node = batch->Next()) {
        got[w].push_back(node->Index);
        node->Status = TvoNode::Success;
        batch->AddSuccess();
      }
      // The end is reported only once the search is over and nothing is left.
      EXPECT_TRUE(batch->IsSearchDone());
      EXPECT_EQ(batch->NextIndex.load(), batch->Count());
      EXPECT_EQ(batch->Next(), nullptr);
    });
  }
  for (auto& t : workers) t.join();
  batch->wait();
  Matcher = saved;

  std::vector<std::int32_t> all;
  for (const auto& g : got) {
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));  // each worker gets them in order
    all.insert(all.end(), g.begin(), g.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(all[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(batch->SuccessCount.load(), kFiles);
  EXPECT_TRUE(batch->IsExhausted());
}

TEST(BatchHandOut, DirectAdditionsAreAcceptedAndMarkTheBatchSearched) {
  auto batch = std::make_shared<TvoBatch>();
  std::vector<TvoNode*> notified;
  batch->OnNodeAdded = [&](TvoBatch* sender, TvoNode* node) {
    EXPECT_EQ(sender, batch.get());
    notified.push_back(node);
  };
  TvoMatch matcher;
  TvoMatchBase* saved = Matcher;
  Matcher = &matcher;
  batch->AddFile("http://host/book.xls?x=1");
  batch->AddFile("/d/any.csv");
  Matcher = saved;
  EXPECT_TRUE(batch->IsSearchDone());
  ASSERT_EQ(notified.size(), 2u);
  EXPECT_EQ(notified[0]->SourceFile, "http://host/book.xls?x=1");
  EXPECT_EQ(notified[1]->Index, 1);
  EXPECT_EQ(batch->Next(), notified[0]);
  EXPECT_EQ(batch->Next(), notified[1]);
  EXPECT_EQ(batch->Next(), nullptr);
  EXPECT_TRUE(batch->IsExhausted());
  // A batch filled by hand is never started.
  batch->Start("/d/*.xls", "/tmp", false);
  EXPECT_FALSE(batch->started());
}

TEST(BatchCounters, FailuresCountedEachTimeTextsKeptOnceInFirstCase) {
  auto batch = std::make_shared<TvoBatch>();
  batch->AddFailure("File is Locked");
  batch->AddFailure("File is Locked");
  batch->AddFailure("FILE IS LOCKED");
  batch->AddFailure("Écrit");
  batch->AddFailure("écrit");
  batch->AddSuccess();
  EXPECT_EQ(batch->FailureCount.load(), 5);
  EXPECT_EQ(batch->SuccessCount.load(), 1);
  EXPECT_EQ(batch->FailureTexts(), (std::vector<std::string>{"File is Locked", "Écrit"}));
}

TEST(BatchCounters, ClearEmptiesTheListAndResetsButKeepsTheTexts) {
  auto batch = std::make_shared<TvoBatch>();
  batch->AddFile("/a.xls");
  batch->Next();
  batch->Next();
  batch->AddFailure("x");
  batch->AddSuccess();
  batch->Clear();
  EXPECT_EQ(batch->Count(), 0);
  EXPECT_EQ(batch->NextIndex.load(), 0);
  EXPECT_EQ(batch->FailureCount.load(), 0);
  EXPECT_EQ(batch->SuccessCount.load(), 0);
  EXPECT_FALSE(batch->IsSearchDone());
  EXPECT_FALSE(batch->IsExhausted());
  EXPECT_EQ(batch->FailureTexts().size(), 1u);
}

struct NormalizeCase {
  const char* Input;
  const char* Expected;
};

class NormalizePathCases : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizePathCases, FileAddressesBecomePaths) {
  EXPECT_EQ(TvoBatch::NormalizePath(GetParam().Input), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, NormalizePathCases,
                         ::testing::Values(NormalizeCase{"file:///home/a/b.xls", "/home/a/b.xls"},
                                           NormalizeCase{"file:/home/x.xls", "/home/x.xls"},
                                           NormalizeCase{"file:home/x.xls", "/home/x.xls"},
                                           NormalizeCase{"file://server/share/a.xls", "/server/share/a.xls"},
                                           NormalizeCase{"file://192.168.0.5/s/a.xls", "/192.168.0.5/s/a.xls"},
                                           NormalizeCase{"file:///", "/"},
                                           NormalizeCase{"file:", "/"},
                                           NormalizeCase{"file:///a%20b/c:d.xls", "/a%20b/c:d.xls"},
                                           NormalizeCase{"/x/y.xls", "/x/y.xls"},
                                           NormalizeCase{"FILE:///x.xls", "FILE:///x.xls"},
                                           NormalizeCase{"", ""},
                                           NormalizeCase{"http://host/a.xls", "http://host/a.xls"}));

}  // namespace
