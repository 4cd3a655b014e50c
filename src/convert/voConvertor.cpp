#include "convert/voConvertor.h"

#include <cctype>

#include "batch/voBatch.h"
#include "core/voProject.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"

std::atomic<std::int32_t> LiveWorkers{0};

namespace {

// The converter class of the running project; a chain cannot be built without it.
TvoConverterClass ConverterClass() {
  if (!voProject || !voProject->FConverterClass) throw platform::Exception("No converter class is set");
  return voProject->FConverterClass;
}

// Length of the scheme of an address ("http" in http://host/...), including its
// ":", or 0 when Source is not an address. A scheme is a letter followed by
// letters, digits, "+", "-" or "."; it must be followed by "//", since ":" is an
// ordinary character of file names on this platform.
std::size_t SchemeLength(std::string_view Source) {
  if (Source.empty() || !std::isalpha(static_cast<unsigned char>(Source[0]))) return 0;
  std::size_t i = 1;
  while (i < Source.size()) {
    const auto c = static_cast<unsigned char>(Source[i]);
    if (std::isalnum(c) || c == '+' || c == '-' || c == '.') {
      ++i;
      continue;
    }
    break;
  }
  if (Source.substr(i, 3) != "://") return 0;
  return i + 1;
}

}  // namespace

std::string voAddressFileName(const std::string& Source) {
  const std::size_t n = SchemeLength(Source);
  if (n == 0) return {};
  std::string name = Source.substr(n);
  for (char& c : name) {
    if (c == '/' || c == ':') c = '_';
  }
  return name;
}

TvoConvertor::TvoConvertor(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode)
    : TvoWorkBase(Batch, ThreadsCount, OnNode), FThreadsCount(ThreadsCount), FOnNode(std::move(OnNode)) {
  if (ThreadsCount > 1) FNextWorker = ConverterClass()(Batch, ThreadsCount - 1, FOnNode);
}

TvoConvertor::~TvoConvertor() = default;

std::shared_ptr<TvoConvertor> TvoConvertor::CreateWorkers(std::shared_ptr<TvoBatch> Batch, const std::string& Target,
                                                          TvoNodeEvent OnNode) {
  Batch->TargetDir = TvoBatch::NormalizePath(Target);
  std::int32_t count = voProject ? voProject->ThreadsCount() : 1;
  if (count > kMaxWorkers) count = kMaxWorkers;
  return ConverterClass()(std::move(Batch), count, std::move(OnNode));
}

std::int32_t TvoConvertor::ChainLength() const {
  std::int32_t n = 0;
  for (const TvoConvertor* w = this; w; w = w->FNextWorker.get()) ++n;
  return n;
}

void TvoConvertor::SetOnFinish(TvoEvent Handler) {
  for (TvoConvertor* w = this; w; w = w->FNextWorker.get()) {
    std::lock_guard lock(w->FOnFinishLock);
    w->FOnFinish = Handler;
  }
}

TvoEvent TvoConvertor::OnFinish() const {
  std::lock_guard lock(FOnFinishLock);
  return FOnFinish;
}

void TvoConvertor::StartChain() {
  for (TvoConvertor* w = this; w; w = w->FNextWorker.get()) w->start();
}

void TvoConvertor::StopChain() {
  if (FNextWorker) {
    try {
      FNextWorker->StopChain();
      while (!FNextWorker->terminated()) platform::sleep_ms(1);
    } catch (...) {
    }
  }
  terminate();
}

void TvoConvertor::Convert(TvoBatch*, TvoNode*) {}

std::string TvoConvertor::AdjustTarget(const std::string& Path) { return Path; }

std::string TvoConvertor::AppExeName() { return {}; }

bool TvoConvertor::HasMacros() { return true; }

void TvoConvertor::ProcessNode() {
  Convert(FBatch.get(), FNode);
  if (FOnNode) FOnNode(FBatch.get(), FNode);
}

void TvoConvertor::on_end() noexcept {
  try {
    if (TvoEvent handler = OnFinish()) platform::Thread::synchronize(handler);
  } catch (...) {
    // The end of a worker goes on whatever its handler does.
  }
  FBatch->LockList();
  LiveWorkers.fetch_sub(1);
  FBatch->UnlockList();
}

std::string TvoConvertor::TargetFileName(TvoBatch* Batch, TvoNode* Node) {
  namespace path = platform::path;
  const std::string& source = Node->SourceFile;

  // 1-2. The name below the target folder.
  std::string name = voAddressFileName(source);
  if (name.empty()) {
    if (voProject->KeepTargetSubdirs() && !Batch->SourceDir.empty() &&
        source.size() > Batch->SourceDir.size() && source.compare(0, Batch->SourceDir.size(), Batch->SourceDir) == 0) {
      // The path relative to the source folder: its subfolders are rebuilt under
      // the target folder.
      name = source.substr(Batch->SourceDir.size());
    } else {
      name = path::file_name_part(source);
    }
  }

  // 3-5. Target folder, name, target extension, last adjustment.
  std::string target = Batch->TargetDir.empty() ? name : path::include_trailing_delim(Batch->TargetDir) + name;
  if (!voProject->FTargetExt.empty()) target = path::change_extension(target, voProject->FTargetExt);
  target = AdjustTarget(target);

  // 6. The target's folder, created when missing.
  const std::string dir = path::folder_part(target);
  if (!dir.empty() && !path::dir_exists(dir)) {
    path::make_dirs(dir);
    if (!path::dir_exists(dir)) Batch->AddFailure("CreateDir Failed: " + dir);
  }

  // 7-8. An existing target: replace it, skip the entry, or take another name.
  if (!path::file_exists(target)) return target;
  switch (voProject->IsOverwrite()) {
    case 9:
      Node->Status = TvoNode::Success;
      return {};
    case 0:
      return dir + "-" + voProject->FProductId + "-" + path::file_name_part(target);
    default:
      return target;
  }
}

void TvoConvertor::DeleteTarget(const std::string& Path) { platform::file::remove_file(Path); }

void TvoConvertor::FinishSource(TvoBatch*, TvoNode* Node, const std::string& Target) {
  const std::string& source = Node->SourceFile;
  if (voProject->KeepFileTime()) {
    try {
      CopyFileTime(source, Target);
    } catch (...) {
    }
  }
  if (voProject->DeleteSource()) platform::file::remove_file(source);
  const std::string suffix = voProject->RenameSource();
  if (!suffix.empty()) platform::file::move_file(source, source + suffix);
}

bool TvoConvertor::CopyFileTime(const std::string& Source, const std::string& Target) {
  const auto times = platform::file::get_times(Source);
  if (!times) return false;
  return platform::file::set_times(Target, *times);
}
