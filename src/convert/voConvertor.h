// The converter base: the chain of workers of one run (creation, start, stop and
// the end notification OnFinish), the naming of an entry's target file with the
// policy for targets that exist already, and the treatment of the source file after
// a successful conversion (file times, deletion, renaming).
//
// Ownership: every worker holds the next one of its chain (FNextWorker), and the
// caller of CreateWorkers holds the first. A running worker also keeps itself alive
// until its end has run, so StopChain, SetOnFinish and StartChain never reach a
// freed worker, and the batch (shared by every worker) outlives the whole chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "batch/voWorkBase.h"
#include "core/voTypes.h"

// The number of workers of an unattended run that have not ended yet. The
// unattended run sets it before it starts its chain and waits for 0; every worker
// of every run decreases it by one at its end, under its batch's lock. Outside an
// unattended run nobody reads it, and it may go below 0 there without effect.
extern std::atomic<std::int32_t> LiveWorkers;

// The most workers one chain can have. A larger "ThreadsCount" is taken as this
// number: every worker is a thread with its own application instance, and the
// chain is built (and freed) recursively.
inline constexpr std::int32_t kMaxWorkers = 256;

class TvoConvertor : public TvoWorkBase {
 public:
  // Builds one worker and, through the project's converter class, the rest of the
  // chain: ThreadsCount N >= 1 gives N workers holding N, N-1, ..., 1; 1, 0 or
  // below gives one worker. Nothing is started.
  TvoConvertor(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode);
  ~TvoConvertor() override;

  // Sets the batch's TargetDir, reads "ThreadsCount" (1 when absent or not a
  // number; 0 and below kept as read, which gives one worker; above kMaxWorkers
  // taken as kMaxWorkers) and builds the chain with the project's converter class.
  // Returns the first worker; nothing is started.
  static std::shared_ptr<TvoConvertor> CreateWorkers(std::shared_ptr<TvoBatch> Batch, const std::string& Target,
                                                     TvoNodeEvent OnNode);

  // The end handler of this worker and of every later worker of the chain. It runs
  // once per worker, on the main thread (Thread::synchronize), after the worker's
  // last entry has been reported; the ending worker waits until it has returned.
  void SetOnFinish(TvoEvent Handler);
  TvoEvent OnFinish() const;
  // Starts this worker, then the rest of the chain.
  void StartChain();
  // Asks every worker of the chain, the last one first, to end after the entry in
  // hand. Entries nobody has taken stay in the batch.
  void StopChain();

  const std::shared_ptr<TvoConvertor>& NextWorker() const { return FNextWorker; }
  // The number of workers from this one to the end of the chain.
  std::int32_t ChainLength() const;

  // Converts one entry and records its outcome in it; nothing here.
  virtual void Convert(TvoBatch* Batch, TvoNode* Node);
  // A last adjustment of every computed target name; unchanged here.
  virtual std::string AdjustTarget(const std::string& Path);
  // The program file of the converting application; empty here.
  virtual std::string AppExeName();
  // Whether the open document carries a macro project; true here.
  virtual bool HasMacros();

  // The target file name of an entry; empty when the entry is skipped (an existing
  // target with "IsOverwrite" skip; the entry's Status is then Success).
  std::string TargetFileName(TvoBatch* Batch, TvoNode* Node);
  // Deletes the file; a failure is ignored.
  void DeleteTarget(const std::string& Path);
  // After a successful conversion: file times ("KeepFileTime"), deletion
  // ("DeleteSource") and renaming ("RenameSource") of the source; failures ignored.
  void FinishSource(TvoBatch* Batch, TvoNode* Node, const std::string& Target);
  // Copies the access and modification times of Source to Target (the times this
  // platform can set). False when nothing was copied.
  static bool CopyFileTime(const std::string& Source, const std::string& Target);

  // The number of workers requested from this one to the end of the chain, as given.
  const std::int32_t FThreadsCount;

 protected:
  // Convert, then the result handler; when Convert raises, the handler is not called.
  void ProcessNode() override;
  // The end of the worker, on its own thread: OnFinish through the main thread,
  // then LiveWorkers decreased under the batch lock. Descendants that override it
  // run their own end first and then this one.
  void on_end() noexcept override;

  TvoNodeEvent FOnNode;
  std::shared_ptr<TvoConvertor> FNextWorker;

 private:
  mutable std::mutex FOnFinishLock;  // set on the main thread, read at the worker's end
  TvoEvent FOnFinish;
};

// The name of a target file that comes from an address (a source with a scheme,
// such as http://h/dir/book.xls): the text after the scheme's ":" with every "/" and
// ":" turned into "_" (__h_dir_book.xls). Empty when Source is not an address.
std::string voAddressFileName(const std::string& Source);
