#include "core/voInfo.h"

#include <string>

#include "core/voApp.h"
#include "core/voFileUtils.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/shell.h"
#include "platform/text.h"

#ifndef TABRIX_HOME_URL
#define TABRIX_HOME_URL "http://www.tabrix.example"
#endif
#ifndef TABRIX_SUPPORT_MAIL
#define TABRIX_SUPPORT_MAIL "support@tabrix.example"
#endif

TvoInfo* voInfo = nullptr;

std::string voHomeUrl() { return TABRIX_HOME_URL; }
std::string voSupportMail() { return TABRIX_SUPPORT_MAIL; }

namespace {

// The form of the store file that this program writes.
constexpr std::int32_t kStoreForm = 2;
// The store file holds UTF-8 text, one name=value per line, CR LF.
constexpr std::int32_t kStoreCharSize = 1;

bool IsStatisticName(std::string_view Line) { return !Line.empty() && Line.front() >= 'A' && Line.front() <= 'Z'; }

std::string WithoutQuotes(std::string_view s) { return platform::text::replace_all(s, "\"", ""); }

}  // namespace

TvoInfo::TvoInfo() {
  std::string folder = platform::path::exclude_trailing_delim(platform::path::folder_part(voExeName()));
  FInstallId = folder.empty() ? -1 : TvoFileUtils::FileDosTime(folder, true, true);
  LoadStore();
  UpdateCounter("R", 0, 1);
}

TvoInfo::~TvoInfo() { SaveStore(); }

std::string TvoInfo::StoreFileName() const { return platform::path::change_extension(voExeName(), ".ext"); }

void TvoInfo::LoadStore() {
  std::lock_guard lock(FLock);
  FStore.Clear();
  std::string name = StoreFileName();
  try {
    if (TvoFileUtils::IsRegularFile(name)) FStore.SetText(TvoFileUtils::LoadText(name, kStoreCharSize));
  } catch (...) {
    FStore.Clear();
  }
  // A store without the start counter counts as unreadable.
  if (FStore.IndexOfName("R") < 0) FStore.Clear();
  FStore.SetValue("v", std::to_string(kStoreForm));
}

bool TvoInfo::SaveStore() {
  std::lock_guard lock(FLock);
  return SaveStoreLocked();
}

bool TvoInfo::SaveStoreLocked() {
  // The program folder is often not writable for its user: the counts then stay in
  // memory and the program goes on.
  try {
    std::string name = StoreFileName();
    if (TvoFileUtils::IsRegularFile(name) && platform::file::is_read_only(name))
      platform::file::set_read_only(name, false);
    TvoFileUtils::SaveText(name, FStore.GetText(), false, kStoreCharSize);
    return true;
  } catch (...) {
    return false;
  }
}

void TvoInfo::UpdateCounter(std::string_view Name, std::int32_t Value, std::int32_t Increment) {
  std::lock_guard lock(FLock);
  std::string held = FStore.GetValue(Name);
  if (Value <= 0) {
    // Counts wrap like the 32-bit arithmetic they are kept in.
    auto sum = static_cast<std::uint32_t>(voStrToInt(held, 0)) + static_cast<std::uint32_t>(Increment);
    Value = static_cast<std::int32_t>(sum);
  }
  std::string text = std::to_string(Value);
  if (text == held) return;
  FStore.SetValue(Name, text);
  SaveStoreLocked();
}

std::string TvoInfo::GetValue(std::string_view Name) const {
  std::lock_guard lock(FLock);
  return FStore.GetValue(Name);
}

std::string TvoInfo::StatisticsText() const {
  std::lock_guard lock(FLock);
  std::string r;
  for (int i = 0; i < FStore.Count(); ++i) {
    const std::string& line = FStore.Line(i);
    if (!IsStatisticName(line)) continue;
    r += static_cast<char>(line.front() + ('a' - 'A'));
    r += TvoOptionList::ValueOf(line);
  }
  return r;
}

std::string TvoInfo::LinkAddress(std::string_view Kind, std::string_view Page, std::string_view Extra) const {
  std::string title = voProject ? voProject->FTitle : std::string();
  std::string version = voProject ? voProject->FVersion : std::string();
  std::string product = voProject ? voProject->FProductId : std::string();

  if (Kind == "supports") {
    auto amp = title.find('&');
    if (amp != std::string::npos) title.replace(amp, 1, "And");
    return "mailto:" + voSupportMail() + "?subject=Support required for " + title + " " + version + " - " +
           std::to_string(FInstallId);
  }
  if (Kind == "h") {
    std::string exe = voExeName();
    std::string chm = platform::path::change_extension(exe, ".chm");
    if (platform::path::file_exists(chm)) return chm;
    return platform::path::change_extension(exe, ".pdf");
  }

  std::string address = voHomeUrl();
  if (!Kind.empty()) {
    address += "/en/";
    address += product;
    address += "/";
    address += Kind;
    address += ".htm";
  } else if (!Page.empty()) {
    address += "/net/";
  }
  std::string query;
  auto param = [&query](std::string_view name, std::string_view value) {
    if (value.empty()) return;
    if (!query.empty()) query += '&';
    query += name;
    query += '=';
    query += WithoutQuotes(value);
  };
  param("a", Page);
  param("p", product);
  param("v", version);
  param("c", StatisticsText());
  param("i", std::to_string(FInstallId));
  if (!Extra.empty()) {
    query += '&';
    query += Extra;
  }
  return address + "?" + query;
}

void TvoInfo::OpenLink(std::string_view Kind, std::string_view Page, std::string_view Extra) {
  // Nothing is reported: a missing viewer or browser leaves the call without effect.
  try {
    platform::shell::open(LinkAddress(Kind, Page, Extra));
  } catch (...) {
  }
}

void TvoInfo::AppException(const std::string& Message) noexcept {
  try {
    UpdateCounter("E", 0, 1);
  } catch (...) {
  }
  try {
    OpenLink("", "err&e=" + Message, "");
  } catch (...) {
  }
}
