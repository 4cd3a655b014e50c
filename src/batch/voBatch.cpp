#include "batch/voBatch.h"

#include <algorithm>
#include <chrono>

#include "batch/VBScriptRegex.h"
#include "batch/voMatch.h"
#include "core/voProject.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/text.h"

std::atomic<bool> voSkipLockFiles{false};

namespace {

// The batch whose search runs on this thread (for Destroy called from its own
// notification).
thread_local const TvoBatch* tSearchingBatch = nullptr;

// How long an idle worker waits for a new entry before it looks again.
constexpr std::chrono::milliseconds kNextPollInterval{1};

constexpr std::string_view kLockFilePrefix = "~$";

// Listing order: names compared without regard to case; names equal but for case
// keep a fixed order among themselves.
bool NameLess(const platform::file::DirEntry& a, const platform::file::DirEntry& b) {
  const int c = platform::text::compare_nocase(a.name, b.name);
  return c != 0 ? c < 0 : a.name < b.name;
}

}  // namespace

TvoBatch::TvoBatch() = default;

TvoBatch::~TvoBatch() {
  Destroy();
  Clear();
}

void TvoBatch::Destroy() {
  terminate();
  // From the search's own thread (a notification that drops the batch) there is
  // nothing to wait for: the search stops at its next check.
  if (tSearchingBatch != this) wait();
}

void TvoBatch::MarkSearchDone() {
  {
    std::lock_guard lock(FLock);
    SearchDone.store(true, std::memory_order_release);
  }
  FChanged.notify_all();
}

std::string TvoBatch::NormalizePath(const std::string& Path) {
  if (!Path.starts_with("file:")) return Path;
  std::string p = Regex::Replace("^file:/*", Path, "");
  // What remains is relative to the root; file:/// alone gives the root.
  return std::string(platform::path::kDelimText) + p;
}

void TvoBatch::Start(const std::string& Source, const std::string& Target, bool Subdir) {
  // The fields below are read by a running search: a batch searches once.
  if (started()) return;
  try {
    SourceDir = NormalizePath(Source);
    TargetDir = NormalizePath(Target);
    const char delim = voProject ? voProject->FPathDelim : platform::path::kDelim;
    if (delim == platform::path::kDelim && !platform::path::dir_exists(TargetDir)) {
      if (TargetDir.empty()) throw platform::Exception("Unable to create directory");
      // Any other folder that cannot be made is reported per file by the workers.
      platform::path::make_dirs(TargetDir);
    }
  } catch (...) {
    // The search will never run: count the batch as searched so that workers
    // started on it end instead of waiting for ever.
    MarkSearchDone();
    throw;
  }
  Mask = platform::path::file_name_part(SourceDir);
  SourceDir = platform::path::folder_part(SourceDir);
  this->Subdir = Subdir;
  if (!SearchDone.load(std::memory_order_acquire) && !started()) start();
}

void TvoBatch::AddFile(const std::string& Path) {
  Add(Path);
  MarkSearchDone();
}

TvoNode* TvoBatch::Next() {
  std::unique_lock lock(FLock);
  for (;;) {
    const std::int32_t i = NextIndex.load(std::memory_order_relaxed);
    if (static_cast<std::size_t>(i) < Nodes.size()) {
      NextIndex.store(i + 1, std::memory_order_relaxed);
      return Nodes[static_cast<std::size_t>(i)].get();
    }
    // The list and SearchDone are seen together under the lock: every entry added
    // before the search was marked done has been handed out by now.
    if (SearchDone.load(std::memory_order_acquire)) {
      Exhausted.store(true, std::memory_order_release);
      return nullptr;
    }
    FChanged.wait_for(lock, kNextPollInterval);
  }
}

std::int32_t TvoBatch::Count() {
  std::lock_guard lock(FLock);
  return static_cast<std::int32_t>(Nodes.size());
}

void TvoBatch::AddSuccess() {
  std::lock_guard lock(FLock);
  SuccessCount.fetch_add(1, std::memory_order_relaxed);
}

void TvoBatch::AddFailure(const std::string& Message) {
  std::lock_guard lock(FLock);
  FailureCount.fetch_add(1, std::memory_order_relaxed);
  const bool known = std::any_of(Failures.begin(), Failures.end(),
                                 [&](const std::string& f) { return platform::text::equals_nocase(f, Message); });
  if (!known) Failures.push_back(Message);
}

std::vector<std::string> TvoBatch::FailureTexts() {
  std::lock_guard lock(FLock);
  return Failures;
}

TvoNodeList& TvoBatch::LockList() {
  FLock.lock();
  return Nodes;
}

void TvoBatch::UnlockList() { FLock.unlock(); }

bool TvoBatch::Accepts(const std::string& FileName) {
  TvoMatchBase* matcher = Matcher;
  if (!matcher) return true;
  if (!matcher->Match(FileName, WildcardToRegex(Mask))) return false;
  if (!RegExt.empty()) return matcher->Match(FileName, RegExt);
  return true;
}

void TvoBatch::Add(const std::string& Path) {
  if (!Accepts(Path)) return;
  TvoNode* node;
  {
    std::lock_guard lock(FLock);
    auto entry = std::make_unique<TvoNode>();
    entry->Index = static_cast<std::int32_t>(Nodes.size());
    entry->SourceFile = Path;
    node = entry.get();
    Nodes.push_back(std::move(entry));
  }
  FChanged.notify_all();
  platform::yield_thread();
  if (OnNodeAdded) OnNodeAdded(this, node);
}

void TvoBatch::Clear() {
  std::lock_guard lock(FLock);
  Nodes.clear();
  NextIndex.store(0, std::memory_order_relaxed);
  SuccessCount.store(0, std::memory_order_relaxed);
  FailureCount.store(0, std::memory_order_relaxed);
  SearchDone.store(false, std::memory_order_release);
  Exhausted.store(false, std::memory_order_release);
}

void TvoBatch::execute() {
  tSearchingBatch = this;
  struct Done {
    TvoBatch* Batch;
    ~Done() {
      Batch->MarkSearchDone();
      tSearchingBatch = nullptr;
    }
  } done{this};
  Execute();
}

void TvoBatch::ReadOptions() {
  RegExt = voProject ? voProject->GetValue("RegExt") : std::string();
  SkipHidden.store(voProject ? voProject->GetBool("SkipHidden", false) : false, std::memory_order_release);
}

void TvoBatch::Execute() {
  ReadOptions();
  const std::uint32_t attributes =
      SkipHidden.load(std::memory_order_acquire) ? voAttrSearchVisible : voAttrSearchAll;
  FVisited.clear();
  Search(SourceDir, Mask, Subdir, attributes);
  MarkSearchDone();
}

void TvoBatch::Search(const std::string& Dir, const std::string& Mask, bool Subdir, std::uint32_t Attributes) {
  // A folder reached again (a symbolic link back up the tree, or a second link to
  // the same folder) is not searched again, so the search always ends.
  if (auto id = platform::file::file_id(Dir)) {
    if (std::find(FVisited.begin(), FVisited.end(), *id) != FVisited.end()) return;
    FVisited.push_back(*id);
  }
  std::vector<platform::file::DirEntry> entries = platform::file::list_dir(Dir);
  std::sort(entries.begin(), entries.end(), NameLess);

  const bool listHidden = (Attributes & voAttrHidden) != 0;
  for (const auto& e : entries) {
    if (terminated()) return;
    if (e.is_dir) continue;
    if (e.name == "." || e.name == "..") continue;
    if (!listHidden && platform::path::is_hidden_name(e.name)) continue;
    if (voSkipLockFiles.load(std::memory_order_acquire) && e.name.starts_with(kLockFilePrefix)) continue;
    if (!WildcardMatchesName(e.name, Mask)) continue;
    Add(Dir + e.name);
  }

  if (!Subdir) return;
  for (const auto& e : entries) {
    if (terminated()) return;
    if (!e.is_dir || platform::path::is_hidden_name(e.name)) continue;
    Search(Dir + e.name + std::string(platform::path::kDelimText), Mask, Subdir, Attributes);
  }
}
