#include "convert/voExcelOle.h"

#include "core/voInfo.h"
#include "core/voProject.h"
#include "platform/path.h"

namespace au = platform::automation;

TvoExcelOle::TvoExcelOle(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode)
    : TvoConvertor(std::move(Batch), ThreadsCount, std::move(OnNode)) {}

TvoExcelOle::~TvoExcelOle() = default;

void TvoExcelOle::StartApplication() {
  au::initialize_thread();
  FApp = au::create_object(kExcelProgId);
  try {
    FAppVersion = ParseVersion(au::call(FApp, "Version"));
    if (voInfo) voInfo->UpdateCounter("W", FAppVersion, 1);
  } catch (...) {
    // The version is only recorded; the application works without it.
  }
  try {
    au::put(FApp, "DisplayAlerts", false);
  } catch (...) {
  }
}

void TvoExcelOle::OpenWorkbook(const std::string& FileName) {
  if (!FApp) StartApplication();
  if (FWorkbook) return;
  au::Variant book;
  if (voProject->GetBool("SkipPassword", false)) {
    const au::ObjectPtr books = au::call(FApp, "Workbooks").as_object();
    book = au::call(books, "Open", {FileName, au::Variant::missing(), true, au::Variant::missing(), kDummyPassword});
  } else {
    const bool read_only = voProject->GetBool("ReadOnly", false);
    const au::ObjectPtr books = au::call(FApp, "Workbooks").as_object();
    book = au::call(books, "Open", {FileName, au::Variant::missing(), read_only});
  }
  FWorkbook = book.as_object();
}

void TvoExcelOle::CloseWorkbook() {
  if (FWorkbook) {
    try {
      au::call(FWorkbook, "Close", {false});
    } catch (...) {
    }
  }
  FWorkbook = nullptr;
}

std::string TvoExcelOle::AppExeName() {
  return platform::path::join(au::call(FApp, "Path").as_string(), kExcelExeName);
}

bool TvoExcelOle::HasMacros() {
  if (FAppVersion >= 12) {
    try {
      return au::call(FWorkbook, "HasVBProject").as_bool();
    } catch (...) {
    }
  }
  return TvoConvertor::HasMacros();
}

std::int32_t TvoExcelOle::ParseVersion(const au::Variant& Value) {
  std::int32_t n = 0;
  try {
    n = Value.as_int();
  } catch (...) {
    try {
      std::string s = Value.as_string();
      if (const auto dot = s.find('.'); dot != std::string::npos) s.erase(dot, 1);
      n = voStrToInt(s, 0);
    } catch (...) {
      n = 0;
    }
  }
  if (n > kMaxMajorVersion) n /= 10;
  return n;
}

void TvoExcelOle::on_end() noexcept {
  if (FApp) {
    try {
      au::call(FApp, "Quit");
    } catch (...) {
    }
  }
  FWorkbook = nullptr;
  FApp = nullptr;
  TvoConvertor::on_end();
}
