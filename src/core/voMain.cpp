#include "core/voMain.h"

#include "batch/voBatch.h"
#include "convert/voConvertor.h"
#include "core/voInfo.h"
#include "core/voProject.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/thread.h"

TvoMain* voMain = nullptr;

namespace {
// The main thread's poll while the workers run.
constexpr int kWaitStepMs = 100;
}  // namespace

TvoMain::~TvoMain() = default;

std::string TvoMain::ResultLine(const TvoNode& Node) {
  const char* word = Node.Status == TvoNode::Success   ? "Success"
                     : Node.Status == TvoNode::Failure ? "Failure"
                                                       : "Running";
  return std::string(word) + " => " + Node.SourceFile + " => " + Node.ResultText;
}

std::string TvoMain::CommaText(const std::vector<std::string>& Texts) {
  if (Texts.size() == 1 && Texts[0].empty()) return "\"\"";
  std::string out;
  for (std::size_t i = 0; i < Texts.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& s = Texts[i];
    bool quote = false;
    for (const char c : s) {
      if (static_cast<unsigned char>(c) <= 32 || c == ',' || c == '"') {
        quote = true;
        break;
      }
    }
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (const char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

void TvoMain::Run() {
  {
    std::lock_guard lock(FLogLock);
    FLog.clear();
  }
  FBatch = std::make_shared<TvoBatch>();

  const bool subdir = voProject->Subdir();
  const std::string target = voProject->TargetFolder();
  const std::string source = voProject->Source();
  FBatch->Start(source, target, subdir);

  FConvertor = TvoConvertor::CreateWorkers(FBatch, voProject->TargetFolder(),
                                           [this](TvoBatch* Batch, TvoNode* Node) { NodeConverted(Batch, Node); });
  // OnFinish stays empty: this thread serves no synchronisation while it waits.
  // One per worker of the chain: the first worker's FThreadsCount, or 1 when that
  // is below 1.
  LiveWorkers.store(FConvertor->ChainLength());
  FConvertor->StartChain();
  voInfo->UpdateCounter("C", 0, 1);

  while (LiveWorkers.load() > 0) platform::sleep_ms(kWaitStepMs);
  Finish();
}

void TvoMain::NodeConverted(TvoBatch*, TvoNode* Node) {
  std::string line = ResultLine(*Node);
  std::lock_guard lock(FLogLock);
  FLog.push_back(std::move(line));
}

std::vector<std::string> TvoMain::Log() const {
  std::lock_guard lock(FLogLock);
  return FLog;
}

void TvoMain::Finish() {
  voInfo->UpdateCounter("A", 0, FBatch->Count());
  voInfo->UpdateCounter("S", 0, FBatch->SuccessCount.load());
  voInfo->UpdateCounter("F", 0, FBatch->FailureCount.load());

  if (FBatch->FailureCount.load() > 0) {
    const std::string text = platform::text::replace_all(CommaText(FBatch->FailureTexts()), "?", "%3F");
    voInfo->OpenLink("", "err&e=" + text, "");
  }

  const std::string log_file = voProject->GetValue("LogFile");
  if (!log_file.empty()) platform::file::write_all_atomic(log_file, platform::text::join_lines(Log()));
}
