// The chain of workers: how many workers, their counts, start, stop, OnFinish,
// LiveWorkers, and the ownership that keeps the chain and the batch alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "convert/convert_env.h"
#include "convert/voTabrix.h"
#include "core/voProject.h"

namespace tabrix_test {
namespace {

class ChainTest : public ConvertEnv {};

TEST_F(ChainTest, ThreadsCountGivesTheWorkersAndTheirCounts) {
  struct Case {
    const char* value;  // nullptr: no option
    std::vector<std::int32_t> counts;
  };
  const std::vector<Case> cases = {
      {"3", {3, 2, 1}}, {"1", {1}}, {"0", {0}}, {"-5", {-5}}, {"many", {1}}, {nullptr, {1}}, {"$2", {2, 1}},
  };
  for (const auto& c : cases) {
    voProject->SetValue("ThreadsCount", c.value ? c.value : "");
    auto batch = BatchOf({});
    auto first = TvoConvertor::CreateWorkers(batch, out_, nullptr);
    std::vector<std::int32_t> counts;
    for (TvoConvertor* w = first.get(); w; w = w->NextWorker().get()) {
      counts.push_back(w->FThreadsCount);
      EXPECT_NE(dynamic_cast<TvoTabrix*>(w), nullptr);
    }
    EXPECT_EQ(counts, c.counts) << (c.value ? c.value : "(absent)");
    EXPECT_EQ(batch->TargetDir, out_);
    EXPECT_FALSE(first->started());
  }
}

TEST_F(ChainTest, HugeThreadsCountIsCapped) {
  for (const char* value : {"100000", "0x7fffffff"}) {
    voProject->SetValue("ThreadsCount", value);
    auto first = TvoConvertor::CreateWorkers(BatchOf({}), out_, nullptr);
    EXPECT_EQ(first->FThreadsCount, kMaxWorkers);
    EXPECT_EQ(first->ChainLength(), kMaxWorkers);
  }
  voProject->SetValue("ThreadsCount", "-5");
  EXPECT_EQ(TvoConvertor::CreateWorkers(BatchOf({}), out_, nullptr)->ChainLength(), 1);
}

TEST_F(ChainTest, CreateWorkersNormalisesTheTarget) {
  auto batch = BatchOf({});
  TvoConvertor::CreateWorkers(batch, "file://" + out_, nullptr);
  EXPECT_EQ(batch->TargetDir, out_);
}

TEST_F(ChainTest, ChainThatIsNeverStartedIsFreedWithItsLastReference) {
  voProject->SetValue("ThreadsCount", "3");
  auto batch = BatchOf({});
  std::weak_ptr<TvoConvertor> last;
  {
    auto first = TvoConvertor::CreateWorkers(batch, out_, nullptr);
    last = first->NextWorker()->NextWorker();
    EXPECT_FALSE(last.expired());
  }
  EXPECT_TRUE(last.expired());
}

TEST_F(ChainTest, OnFinishRunsOncePerWorkerOnTheMainThreadAfterItsReports) {
  voProject->SetValue("ThreadsCount", "3");
  std::vector<std::string> files;
  for (int i = 0; i < 7; ++i) {
    files.push_back(in_ + "f" + std::to_string(i) + ".xls");
    WriteFile(files.back());
  }
  auto batch = BatchOf(files);
  MainLoop loop;
  const auto main_id = std::this_thread::get_id();
  std::atomic<int> finished{0};
  std::atomic<int> reported{0};
  std::atomic<bool> off_main{false};
  auto first = TvoConvertor::CreateWorkers(batch, out_, [&](TvoBatch*, TvoNode*) { ++reported; });
  first->SetOnFinish([&] {
    if (std::this_thread::get_id() != main_id) off_main = true;
    ++finished;
  });
  for (TvoConvertor* w = first.get(); w; w = w->NextWorker().get()) EXPECT_TRUE(w->OnFinish() != nullptr);
  const std::int32_t live_before = LiveWorkers.load();
  first->StartChain();
  loop.Serve([&] { return finished.load() == 3; });
  WaitChain(first);
  EXPECT_EQ(finished.load(), 3);
  EXPECT_FALSE(off_main.load());
  EXPECT_EQ(reported.load(), 7);
  EXPECT_EQ(LiveWorkers.load(), live_before - 3);
  EXPECT_TRUE(batch->IsExhausted());
  EXPECT_EQ(batch->SuccessCount.load(), 7);
}

TEST_F(ChainTest, EveryEntryIsConvertedOnceAcrossWorkers) {
  voProject->SetValue("ThreadsCount", "4");
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(in_ + "book" + std::to_string(i) + ".xlsx");
    WriteFile(files.back());
  }
  auto batch = BatchOf(files);
  RunChain(batch);
  ASSERT_EQ(reports_.size(), 12u);
  std::vector<std::string> sorted = reports_;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(excel_->CountOf("workbooks.Open("), 12);
  EXPECT_EQ(batch->SuccessCount.load(), 12);
  // Every application that was started was quit once.
  EXPECT_LE(excel_->AppsCreated(), 4);
  for (int app = 1; app <= excel_->AppsCreated(); ++app) {
    const auto texts = excel_->Texts(app);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "app.Quit()"), 1) << app;
    EXPECT_EQ(texts.back(), "app.Quit()");
  }
}

TEST_F(ChainTest, StopChainFinishesTheEntriesInHandAndTakesNoMore) {
  voProject->SetValue("ThreadsCount", "2");
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back(in_ + "s" + std::to_string(i) + ".xls");
    WriteFile(files.back());
  }
  auto batch = BatchOf(files);

  std::mutex m;
  std::condition_variable cv;
  int in_open = 0;
  bool release = false;
  excel_->on_open = [&](const std::string&) {
    std::unique_lock lock(m);
    ++in_open;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  };
  std::atomic<int> finished{0};
  auto first = TvoConvertor::CreateWorkers(batch, out_, [this](TvoBatch*, TvoNode* node) {
    std::lock_guard lock(reports_lock_);
    reports_.push_back(std::to_string(node->Status) + "|" + node->SourceFile);
  });
  first->SetOnFinish([&] { ++finished; });
  first->StartChain();
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return in_open == 2; });
  }
  first->StopChain();
  EXPECT_TRUE(first->terminated());
  EXPECT_TRUE(first->NextWorker()->terminated());
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  WaitChain(first);

  EXPECT_EQ(reports_.size(), 2u);
  for (const auto& r : reports_) EXPECT_EQ(r.substr(0, 2), "1|") << r;
  EXPECT_EQ(batch->NextIndex.load(), 2);
  EXPECT_FALSE(batch->IsExhausted());
  EXPECT_EQ(finished.load(), 2);
  // The entries nobody took are left for a later chain on the same batch.
  excel_->on_open = nullptr;
  reports_.clear();
  voProject->SetValue("ThreadsCount", "1");
  RunChain(batch);
  EXPECT_EQ(reports_.size(), 4u);
  EXPECT_EQ(batch->SuccessCount.load(), 6);
}

TEST_F(ChainTest, StopChainAndSetOnFinishAfterTheWorkersEndedAreHarmless) {
  voProject->SetValue("ThreadsCount", "3");
  auto batch = BatchOf({});
  auto first = RunChain(batch);
  // The workers have ended and dropped their own references; the chain is still
  // held by first, so these reach live objects.
  first->StopChain();
  first->SetOnFinish([] {});
  first->StartChain();  // a started worker is never restarted
  EXPECT_TRUE(first->NextWorker()->NextWorker()->finished());
}

TEST_F(ChainTest, WorkersFreeThemselvesWhenTheCallerLetsGoEarly) {
  voProject->SetValue("ThreadsCount", "2");
  WriteFile(in_ + "a.xls");
  auto batch = BatchOf({in_ + "a.xls"});
  std::weak_ptr<TvoConvertor> weak_first;
  std::weak_ptr<TvoConvertor> weak_second;
  std::mutex m;
  std::condition_variable cv;
  int ended = 0;
  {
    auto first = TvoConvertor::CreateWorkers(batch, out_, nullptr);
    weak_first = first;
    weak_second = first->NextWorker();
    first->SetOnFinish([&] {
      std::lock_guard lock(m);
      ++ended;
      cv.notify_all();
    });
    first->StartChain();
  }
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return ended == 2; });
  }
  // The batch is still held here; the workers free themselves once their ends
  // have run. Poll for it (no timing is asserted).
  while (!weak_first.expired() || !weak_second.expired()) std::this_thread::yield();
  EXPECT_EQ(batch->SuccessCount.load(), 1);
}

TEST_F(ChainTest, ProcessNodeErrorsOnlySetTheResultText) {
  // A target folder under a plain file cannot be created; with IsOverwrite false and
  // a file at the target the naming raises nothing either, so use a converter whose
  // naming throws.
  struct Throwing : TvoConvertor {
    using TvoConvertor::TvoConvertor;
    void Convert(TvoBatch*, TvoNode* node) override {
      if (node->SourceFile.find("bad") != std::string::npos) throw platform::Exception("naming failed");
      node->Status = TvoNode::Success;
    }
  };
  voProject->FConverterClass = [](std::shared_ptr<TvoBatch> b, std::int32_t n, TvoNodeEvent e) {
    return std::static_pointer_cast<TvoConvertor>(std::make_shared<Throwing>(std::move(b), n, std::move(e)));
  };
  auto batch = BatchOf({in_ + "good1.xls", in_ + "bad.xls", in_ + "good2.xls"});
  RunChain(batch);
  EXPECT_EQ(reports_, (std::vector<std::string>{"1|" + in_ + "good1.xls|", "1|" + in_ + "good2.xls|"}));
  TvoNodeList& list = batch->LockList();
  EXPECT_EQ(list[1]->Status, TvoNode::Running);
  EXPECT_EQ(list[1]->ResultText, "naming failed");
  batch->UnlockList();
  EXPECT_EQ(batch->FailureCount.load(), 0);
}

TEST_F(ChainTest, OtherErrorsEndTheWorker) {
  struct Fatal : TvoConvertor {
    using TvoConvertor::TvoConvertor;
    void Convert(TvoBatch*, TvoNode*) override { throw std::logic_error("programming error"); }
  };
  voProject->FConverterClass = [](std::shared_ptr<TvoBatch> b, std::int32_t n, TvoNodeEvent e) {
    return std::static_pointer_cast<TvoConvertor>(std::make_shared<Fatal>(std::move(b), n, std::move(e)));
  };
  auto batch = BatchOf({in_ + "a.xls", in_ + "b.xls"});
  const std::int32_t live_before = LiveWorkers.load();
  auto first = RunChain(batch);
  EXPECT_EQ(first->fatal_error(), "programming error");
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(batch->NextIndex.load(), 1);
  EXPECT_EQ(LiveWorkers.load(), live_before - 1);  // the end still runs
}

}  // namespace
}  // namespace tabrix_test
