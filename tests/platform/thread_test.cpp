// The thread object: created suspended, started once, the terminate request, the
// end of the body (also by an exception), release on end, waiting from several
// threads, and running a function "on the main thread".
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace {

// A thread whose body is a function; records its runs and its end.
class FnThread : public platform::Thread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body) : Body(std::move(body)) {}
  ~FnThread() override {
    terminate();
    wait();
    if (Destroyed) Destroyed->set_value();
  }
  bool IsTerminated() const { return terminated(); }

  std::function<void(FnThread&)> Body;
  std::atomic<int> Runs{0};
  std::atomic<bool> Ended{false};
  std::promise<void>* Destroyed = nullptr;

 protected:
  void execute() override {
    ++Runs;
    Body(*this);
  }
  void on_end() noexcept override { Ended = true; }
};

// Starts a thread whose body polls for the terminate request; returns once the
// body is running.
std::shared_ptr<FnThread> StartPollingThread() {
  auto running = std::make_shared<std::promise<void>>();
  std::future<void> ran = running->get_future();
  auto t = std::make_shared<FnThread>([running](FnThread& self) {
    running->set_value();
    while (!self.IsTerminated()) platform::yield_thread();
  });
  t->start();
  ran.wait();
  return t;
}

TEST(ThreadTest, CreatedSuspendedRunsOnceWhenStarted) {
  auto t = std::make_shared<FnThread>([](FnThread&) {});
  EXPECT_FALSE(t->started());
  t->wait();  // never started: returns at once
  EXPECT_EQ(t->Runs.load(), 0);
  t->start();
  t->start();
  t->wait();
  EXPECT_TRUE(t->started());
  EXPECT_TRUE(t->finished());
  EXPECT_TRUE(t->Ended.load());
  EXPECT_EQ(t->Runs.load(), 1);
  EXPECT_EQ(t->fatal_error(), "");
}

TEST(ThreadTest, TerminateRequestEndsAPollingBody) {
  auto t = StartPollingThread();
  EXPECT_FALSE(t->finished());
  t->terminate();
  t->wait();
  EXPECT_TRUE(t->finished());
  EXPECT_TRUE(t->terminated());
}

TEST(ThreadTest, ExceptionEndsTheBodyAndIsKept) {
  auto t = std::make_shared<FnThread>([](FnThread&) { throw std::runtime_error("body failed"); });
  t->start();
  t->wait();
  EXPECT_TRUE(t->finished());
  EXPECT_TRUE(t->Ended.load());  // on_end runs also after a failure
  EXPECT_EQ(t->fatal_error(), "body failed");
}

TEST(ThreadTest, SeveralThreadsMayWaitForTheSameEnd) {
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  auto t = std::make_shared<FnThread>([open](FnThread&) { open.wait(); });
  t->start();
  std::vector<std::thread> waiters;
  std::atomic<int> woke{0};
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      t->wait();
      EXPECT_TRUE(t->finished());
      ++woke;
    });
  }
  gate.set_value();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woke.load(), 4);
  t->wait();  // and once more after the end
}

TEST(ThreadTest, FreeOnEndReleasesTheObjectWhenTheBodyEndsLast) {
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::promise<void> destroyed;
  std::weak_ptr<FnThread> weak;
  {
    auto t = std::make_shared<FnThread>([open](FnThread&) { open.wait(); });
    t->Destroyed = &destroyed;
    t->set_free_on_end(true);
    t->start();
    weak = t;
  }
  // The owner has let go; the running thread still holds the object.
  EXPECT_FALSE(weak.expired());
  gate.set_value();
  destroyed.get_future().wait();
  EXPECT_TRUE(weak.expired());
}

TEST(ThreadTest, FreeOnEndObjectCanBeWaitedForWhileHeld) {
  auto t = std::make_shared<FnThread>([](FnThread&) {});
  t->set_free_on_end(true);
  t->start();
  t->wait();
  EXPECT_TRUE(t->finished());
  EXPECT_TRUE(t->Ended.load());
}

TEST(ThreadTest, DestroyingAStartedThreadStopsIt) {
  {
    auto t = StartPollingThread();
  }  // the destructor asks to terminate and waits
  SUCCEED();
}

TEST(ThreadSynchronize, WithoutHookRunsOnTheCallerAndPassesErrors) {
  platform::Thread::set_main_thread_hook(nullptr);
  std::thread::id ran;
  platform::Thread::synchronize([&] { ran = std::this_thread::get_id(); });
  EXPECT_EQ(ran, std::this_thread::get_id());
  EXPECT_THROW(platform::Thread::synchronize([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST(ThreadSynchronize, HookDecidesWhereTheFunctionRuns) {
  int hooked = 0;
  platform::Thread::set_main_thread_hook([&](const std::function<void()>& fn) {
    ++hooked;
    fn();
  });
  int ran = 0;
  std::thread other([&] { platform::Thread::synchronize([&] { ++ran; }); });
  other.join();
  platform::Thread::set_main_thread_hook(nullptr);
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(ran, 1);
}

}  // namespace
