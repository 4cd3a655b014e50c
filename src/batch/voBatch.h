// The batch of one run: the search of the source on its own thread, the list of
// file entries with their results, the hand-out of entries to workers and the
// counters of successes and failures.
//
// Threads: the owner (main thread) creates, starts, adds files directly and
// destroys; the batch's own thread runs the search, Add and OnNodeAdded; worker
// threads call Next, AddSuccess, AddFailure, LockList/UnlockList and write the
// Status and ResultText of the entry they took.
//
// The batch lock (LockList/UnlockList) guards the entry list, NextIndex, the
// counters and Failures, and the reading of SearchDone in Next. It is not
// recursive: no holder takes it twice. The flags and counters are atomics as well,
// so that they can be read from any thread without the lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/voTypes.h"
#include "platform/file.h"
#include "platform/thread.h"

// Leaves out names that begin with "~$" (the lock files that spreadsheet programs
// keep beside open workbooks). Off by default; the converter's start-up turns it on.
extern std::atomic<bool> voSkipLockFiles;

// One file entry of a batch and its result record.
struct TvoNode {
  static constexpr std::int32_t Running = 0;
  static constexpr std::int32_t Success = 1;
  static constexpr std::int32_t Failure = 2;

  std::int32_t Status = Running;  // written only by the worker that took the entry
  std::int32_t Index = 0;         // position in the batch, counted from 0
  std::string SourceFile;         // full path as the search built it or as handed in
  std::string ResultText;         // output path on success, error text on failure
};

// The entries of a batch. The nodes never move: a TvoNode* stays valid for as long
// as its batch exists.
using TvoNodeList = std::vector<std::unique_ptr<TvoNode>>;

// The attribute set of a search. Only the hidden bit has a meaning on this
// platform: without it, files whose name begins with "." are left out. Hidden
// folders are never entered.
inline constexpr std::uint32_t voAttrHidden = 0x2;
inline constexpr std::uint32_t voAttrSearchAll = 0x1EF;
inline constexpr std::uint32_t voAttrSearchVisible = voAttrSearchAll & ~voAttrHidden;

class TvoBatch : public platform::Thread {
 public:
  // Created suspended; own it with std::make_shared (workers hold shared_ptr).
  TvoBatch();
  ~TvoBatch() override;

  // Asks the search to end and waits for it. The entries stay until the batch is
  // freed, so workers that still hold the batch keep valid entries.
  void Destroy();

  // Splits the source into SourceDir and Mask, normalises the target, creates the
  // target folder when missing and starts the search. An empty target throws
  // platform::Exception("Unable to create directory"); the batch then counts as
  // searched, so that workers started on it end.
  void Start(const std::string& Source, const std::string& Target, bool Subdir);
  // Adds one file without a search and marks the batch as searched.
  void AddFile(const std::string& Path);

  // The next entry to convert; waits while the search still runs; nullptr at the
  // end (and on every later call), after which IsExhausted() is true.
  TvoNode* Next();
  bool IsExhausted() const { return Exhausted.load(std::memory_order_acquire); }
  bool IsSearchDone() const { return SearchDone.load(std::memory_order_acquire); }

  std::int32_t Count();
  void AddSuccess();
  // Counts a failure and keeps every distinct message once (compared without
  // regard to case), in the case of its first report.
  void AddFailure(const std::string& Message);
  // A copy of Failures taken under the lock.
  std::vector<std::string> FailureTexts();

  // Takes the batch lock and returns the entry list; UnlockList releases it.
  TvoNodeList& LockList();
  void UnlockList();

  // "file:" addresses become paths: "file:" and the slashes after it are removed and
  // "/" is put in front (file:///home/a.xls gives /home/a.xls, file:/// gives "/").
  // Anything else is returned unchanged.
  static std::string NormalizePath(const std::string& Path);

  // The acceptance test of a candidate (mask, then RegExt) through Matcher.
  bool Accepts(const std::string& FileName);

  // Searches Dir (ending with "/") for files matching Mask, then, with Subdir, every
  // subfolder depth first. Names are listed in case-insensitive order; a folder
  // reached again through a symbolic link is not searched again.
  void Search(const std::string& Dir, const std::string& Mask, bool Subdir, std::uint32_t Attributes);
  // Appends an entry for Path when Accepts(Path), then raises OnNodeAdded.
  void Add(const std::string& Path);
  // Frees every entry and resets the hand-out position, counters and flags.
  void Clear();

  // Data model.
  std::atomic<std::int32_t> NextIndex{0};
  std::atomic<bool> Exhausted{false};
  std::atomic<std::int32_t> FailureCount{0};
  std::string Mask;
  bool Subdir = false;
  std::atomic<bool> SearchDone{false};
  std::atomic<std::int32_t> SuccessCount{0};
  TvoNodeList Nodes;                   // guarded by the batch lock
  std::vector<std::string> Failures;   // guarded by the batch lock
  TvoNodeEvent OnNodeAdded;            // set by the owner before Start/AddFile
  std::string RegExt;                  // "RegExt" of the project, read when the search starts
  std::atomic<bool> SkipHidden{false};  // "SkipHidden" of the project, read when the search starts
  std::string SourceDir;               // the source folder, ending with "/"
  std::string TargetDir;               // the target folder

 protected:
  // The thread body: reads the options, searches; SearchDone is set however it
  // ends (the search ends, a terminate request, an error). A class that overrides
  // Execute calls Destroy() in its own destructor, so that the body has ended
  // before its part is gone.
  void execute() override;
  virtual void Execute();

 private:
  void MarkSearchDone();
  void ReadOptions();

  std::mutex FLock;
  std::condition_variable FChanged;      // an entry was added or the search ended
  std::vector<platform::file::FileId> FVisited;  // folders searched (search thread only)
};
