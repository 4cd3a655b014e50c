#include "platform/thread.h"

#include <chrono>
#include <exception>

namespace platform {

namespace {
std::mutex g_hook_mutex;
Thread::MainThreadHook g_hook;
std::mutex g_direct_mutex;
}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      terminate();
      thread_.join();
    }
  }
}

void Thread::start() {
  bool expected = false;
  if (!started_.compare_exchange_strong(expected, true)) return;
  std::lock_guard join_lock(join_mutex_);
  if (free_on_end_) {
    std::shared_ptr<Thread> self = shared_from_this();
    thread_ = std::thread([self]() mutable {
      self->run_body();
      self.reset();
    });
    thread_.detach();
  } else {
    thread_ = std::thread([this] { run_body(); });
  }
}

void Thread::run_body() noexcept {
  try {
    execute();
  } catch (const std::exception& e) {
    std::lock_guard lock(mutex_);
    fatal_error_ = e.what();
  } catch (...) {
    std::lock_guard lock(mutex_);
    fatal_error_ = "unknown error";
  }
  on_end();
  {
    std::lock_guard lock(mutex_);
    finished_.store(true, std::memory_order_release);
  }
  done_cv_.notify_all();
}

void Thread::wait() {
  if (!started()) return;
  {
    // One waiter joins; the others find the thread joined (or detached) and wait
    // for the end below, which has then happened already.
    std::lock_guard join_lock(join_mutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
      thread_.join();
      return;
    }
  }
  std::unique_lock lock(mutex_);
  done_cv_.wait(lock, [this] { return finished(); });
}

std::string Thread::fatal_error() const {
  std::lock_guard lock(mutex_);
  return fatal_error_;
}

void Thread::synchronize(const std::function<void()>& fn) {
  MainThreadHook hook;
  {
    std::lock_guard lock(g_hook_mutex);
    hook = g_hook;
  }
  if (hook) {
    hook(fn);
  } else {
    std::lock_guard lock(g_direct_mutex);
    fn();
  }
}

void Thread::set_main_thread_hook(MainThreadHook hook) {
  std::lock_guard lock(g_hook_mutex);
  g_hook = std::move(hook);
}

void sleep_ms(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void yield_thread() { std::this_thread::yield(); }

}  // namespace platform
