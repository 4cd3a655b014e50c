// The thread object: created suspended, started later, a terminate request that
// the body polls, optional release when the body ends, and waiting for the end.
// Also the "run this on the main thread and wait" hook that the window installs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

class Thread : public std::enable_shared_from_this<Thread> {
 public:
  Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // A derived class must make sure that its body has ended before its own part is
  // destroyed (terminate() and wait() in its destructor, or free-on-end); the base
  // destructor only joins as a last resort.
  virtual ~Thread();

  // Starts the body once; later calls do nothing. With free-on-end set, the object
  // must be owned by a shared_ptr: the running thread holds a reference of its own
  // and drops it when its body has ended, which frees the object when nobody else
  // holds it.
  void start();
  void set_free_on_end(bool value) { free_on_end_ = value; }
  bool free_on_end() const { return free_on_end_; }

  // Asks the body to end; the body polls terminated().
  void terminate() noexcept { terminated_.store(true, std::memory_order_release); }
  bool terminated() const noexcept { return terminated_.load(std::memory_order_acquire); }

  bool started() const noexcept { return started_.load(std::memory_order_acquire); }
  bool finished() const noexcept { return finished_.load(std::memory_order_acquire); }
  // Waits until the body (and on_end) has run; returns at once when the thread was
  // never started. Several threads may wait at the same time. Must not be called
  // from the thread itself.
  void wait();

  // Message of an exception that escaped the body, empty when none did.
  std::string fatal_error() const;

  // Runs fn on the main thread and waits until it has returned, through the hook
  // that the window installs. Without a hook fn runs on the calling thread, one
  // such call at a time. Exceptions from fn reach the caller.
  static void synchronize(const std::function<void()>& fn);
  using MainThreadHook = std::function<void(const std::function<void()>&)>;
  static void set_main_thread_hook(MainThreadHook hook);

 protected:
  virtual void execute() = 0;
  // Runs on the thread after execute() (also when execute() threw), before the
  // thread drops its own reference.
  virtual void on_end() noexcept {}

 private:
  void run_body() noexcept;

  std::mutex join_mutex_;  // guards thread_: start() and the joining in wait()
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  bool free_on_end_ = false;
  mutable std::mutex mutex_;
  std::condition_variable done_cv_;
  std::string fatal_error_;
};

void sleep_ms(int milliseconds);
// Gives up the rest of the time slice (a zero-length sleep).
void yield_thread();

}  // namespace platform
