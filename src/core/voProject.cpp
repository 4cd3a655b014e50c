#include "core/voProject.h"

#include <charconv>
#include <mutex>
#include <utility>

#include "core/voApp.h"
#include "core/voFileUtils.h"
#include "core/voInfo.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"

TvoProject* voProject = nullptr;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }


int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal fraction such as "0.5", "-1.0" or "2e3": blanks around it allowed.
bool ReadsAsFloat(std::string_view v, double& out) {
  std::size_t i = 0;
  while (i < v.size() && IsBlank(v[i])) ++i;
  std::size_t e = v.size();
  while (e > i && IsBlank(v[e - 1])) --e;
  v = v.substr(i, e - i);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  if (v.empty() || v.front() == '+') return false;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out, std::chars_format::general);
  return ec == std::errc() && p == v.data() + v.size();
}

}  // namespace

std::int32_t voStrToInt(std::string_view Value, std::int32_t Default) {
  std::size_t i = 0;
  while (i < Value.size() && IsBlank(Value[i])) ++i;
  bool negative = false;
  if (i < Value.size() && (Value[i] == '+' || Value[i] == '-')) {
    negative = Value[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < Value.size() && (Value[i] == '$' || Value[i] == 'x' || Value[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < Value.size() && Value[i] == '0' && (Value[i + 1] == 'x' || Value[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= Value.size()) return Default;
  std::uint64_t n = 0;
  for (; i < Value.size(); ++i) {
    int d = hex ? HexDigit(Value[i]) : ((Value[i] >= '0' && Value[i] <= '9') ? Value[i] - '0' : -1);
    if (d < 0) return Default;
    n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    if (n > 0xFFFFFFFFull) return Default;
  }
  if (hex) {
    auto u = static_cast<std::uint32_t>(n);
    if (negative) u = 0u - u;
    return static_cast<std::int32_t>(u);
  }
  if (negative) {
    if (n > 2147483648ull) return Default;
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(n));
  }
  if (n > 2147483647ull) return Default;
  return static_cast<std::int32_t>(n);
}

bool voStrToBool(std::string_view Value, bool Default) {
  // Any whole number first (zero reads false); the sentinel pair tells "no number".
  std::int32_t a = voStrToInt(Value, 0), b = voStrToInt(Value, 1);
  if (a == b) return a != 0;
  double f = 0;
  if (ReadsAsFloat(Value, f)) return f != 0;
  if (platform::text::equals_ascii_nocase(Value, "true")) return true;
  if (platform::text::equals_ascii_nocase(Value, "false")) return false;
  return Default;
}

// ---------------------------------------------------------------------------
// TvoOptionList

std::string TvoOptionList::NameOf(std::string_view Line) {
  auto eq = Line.find('=');
  return std::string(eq == std::string_view::npos ? Line : Line.substr(0, eq));
}

std::string TvoOptionList::ValueOf(std::string_view Line) {
  auto eq = Line.find('=');
  return eq == std::string_view::npos ? std::string() : std::string(Line.substr(eq + 1));
}

int TvoOptionList::IndexOfName(std::string_view Key) const {
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    std::string_view line = FLines[i];
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (platform::text::equals_nocase(line.substr(0, eq), Key)) return static_cast<int>(i);
  }
  return -1;
}

std::string TvoOptionList::GetValue(std::string_view Key) const {
  int i = IndexOfName(Key);
  return i < 0 ? std::string() : ValueOf(FLines[static_cast<std::size_t>(i)]);
}

void TvoOptionList::SetValue(std::string_view Key, std::string_view Value) {
  int i = IndexOfName(Key);
  if (Value.empty()) {
    if (i >= 0) FLines.erase(FLines.begin() + i);
    return;
  }
  std::string line;
  line.reserve(Key.size() + 1 + Value.size());
  line += Key;
  line += '=';
  line += Value;
  if (i >= 0)
    FLines[static_cast<std::size_t>(i)] = std::move(line);
  else
    FLines.push_back(std::move(line));
}

std::string TvoOptionList::GetText() const { return platform::text::join_lines(FLines); }

void TvoOptionList::SetText(std::string_view Text) { FLines = platform::text::split_lines(Text); }

// ---------------------------------------------------------------------------
// TvoSyncOptionList

std::string TvoSyncOptionList::GetValue(std::string_view Key) const {
  std::shared_lock lock(FLock);
  return FList.GetValue(Key);
}

void TvoSyncOptionList::SetValue(std::string_view Key, std::string_view Value) {
  std::unique_lock lock(FLock);
  FList.SetValue(Key, Value);
}

std::string TvoSyncOptionList::GetText() const {
  std::shared_lock lock(FLock);
  return FList.GetText();
}

void TvoSyncOptionList::SetText(std::string_view Text) {
  auto lines = platform::text::split_lines(Text);
  std::unique_lock lock(FLock);
  FList.SetLines(std::move(lines));
}

std::vector<std::string> TvoSyncOptionList::Lines() const {
  std::shared_lock lock(FLock);
  return FList.Lines();
}

void TvoSyncOptionList::SetLines(std::vector<std::string> Lines) {
  std::unique_lock lock(FLock);
  FList.SetLines(std::move(Lines));
}

void TvoSyncOptionList::Clear() {
  std::unique_lock lock(FLock);
  FList.Clear();
}

bool TvoSyncOptionList::Empty() const {
  std::shared_lock lock(FLock);
  return FList.Empty();
}

int TvoSyncOptionList::Count() const {
  std::shared_lock lock(FLock);
  return FList.Count();
}

TvoOptionList TvoSyncOptionList::Snapshot() const {
  std::shared_lock lock(FLock);
  return FList;
}

void TvoSyncOptionList::Assign(const TvoOptionList& List) {
  std::unique_lock lock(FLock);
  FList = List;
}

// ---------------------------------------------------------------------------
// TvoPropList

TvoPropList::TvoPropList(TvoControl* Instance) : FInstance(Instance) {
  if (!FInstance) return;
  try {
    FProps = FInstance->PropInfos();
  } catch (...) {
    FProps.clear();
  }
  FCount = static_cast<std::int32_t>(FProps.size());
}

const TvoPropInfo* TvoPropList::Find(std::string_view Name) const {
  for (const auto& p : FProps)
    if (platform::text::equals_nocase(p.Name, Name)) return &p;
  return nullptr;
}

std::string TvoPropList::GetPropText(std::string_view Name) const {
  try {
    const TvoPropInfo* p = Find(Name);
    if (!p || !FInstance) return {};
    switch (p->Kind) {
      case TvoPropKind::Integer:
        return std::to_string(FInstance->GetOrdProp(*p));
      case TvoPropKind::Enumeration: {
        auto ord = FInstance->GetOrdProp(*p);
        if (ord < 0 || static_cast<std::size_t>(ord) >= p->EnumNames.size()) return {};
        return p->EnumNames[static_cast<std::size_t>(ord)];
      }
      case TvoPropKind::Text:
        return FInstance->GetStrProp(*p);
    }
  } catch (...) {
  }
  return {};
}

void TvoPropList::SetPropText(std::string_view Name, std::string_view Text) {
  try {
    const TvoPropInfo* p = Find(Name);
    if (!p || !FInstance) return;
    switch (p->Kind) {
      case TvoPropKind::Integer: {
        // Two different defaults tell an unreadable number apart.
        std::int32_t a = voStrToInt(Text, 0), b = voStrToInt(Text, 1);
        if (a == b) FInstance->SetOrdProp(*p, a);
        return;
      }
      case TvoPropKind::Enumeration: {
        std::string_view name = Text.empty() ? std::string_view("False") : Text;
        for (std::size_t i = 0; i < p->EnumNames.size(); ++i) {
          if (platform::text::equals_nocase(p->EnumNames[i], name)) {
            FInstance->SetOrdProp(*p, static_cast<std::int64_t>(i));
            return;
          }
        }
        return;
      }
      case TvoPropKind::Text:
        FInstance->SetStrProp(*p, Text);
        return;
    }
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// TvoProject

TvoProject::TvoProject() {
  // A missing or unreadable recent list is the normal first start.
  try {
    std::string name = RecentListFile();
    if (TvoFileUtils::IsRegularFile(name))
      FRecent = platform::text::split_lines(platform::text::decode_text_file(platform::file::read_all(name)));
  } catch (...) {
    FRecent.clear();
  }
}

TvoProject::~TvoProject() {
  for (TvoControl* c : FControls) {
    try {
      if (c && c->Tag() > 0) c->SetTag(-1);
    } catch (...) {
    }
  }
  // Written even when empty; a folder the user cannot write is passed over.
  try {
    platform::file::write_all_atomic(RecentListFile(), platform::text::join_lines(FRecent));
  } catch (...) {
  }
}

std::string TvoProject::Source() const { return GetValue("Source"); }
std::string TvoProject::Target() const { return GetValue("Target"); }
bool TvoProject::Subdir() const { return GetBool("Subdir", false); }
std::int32_t TvoProject::ThreadsCount() const { return GetInt("ThreadsCount", 1); }

std::int32_t TvoProject::IsOverwrite() const {
  std::string v = GetValue("IsOverwrite");
  if (platform::text::equals_ascii_nocase(v, "skip")) return 9;
  return voStrToBool(v, FOverwriteDefault) ? 1 : 0;
}

bool TvoProject::KeepFileTime() const { return GetBool("KeepFileTime", false); }
bool TvoProject::KeepTargetSubdirs() const { return GetBool("KeepTargetSubdirs", true); }
bool TvoProject::MacroEnabled() const { return GetBool("MacroEnabled", false); }
bool TvoProject::DeleteSource() const { return GetBool("DeleteSource", false); }
std::string TvoProject::RenameSource() const { return GetValue("RenameSource"); }
bool TvoProject::PureConsole() const { return GetBool("PureConsole", false); }
bool TvoProject::RunAndClose() const { return GetBool("RunAndClose", false) || PureConsole() || Daemon() > 0; }
std::int32_t TvoProject::Daemon() const { return GetInt("Daemon", 0); }

std::string TvoProject::TargetFolder() {
  std::string t = Target();
  if (t.empty()) return t;
  if (FPathDelim == platform::path::kDelim && !platform::path::dir_exists(t)) platform::path::make_dirs(t);
  if (t.back() != FPathDelim) t += FPathDelim;
  return t;
}

bool TvoProject::ReadCommandLine() { return ReadCommandLine(voApp ? std::string_view(voApp->FParam1) : ""); }

bool TvoProject::ReadCommandLine(std::string_view Param1) {
  std::string a(Param1);
  if (platform::text::utf8_to_utf32(a).size() >= 2) {
    bool dash = a[0] == '-';
    bool slash = a[0] == '/';
    // On this platform "/" also begins every absolute path, so "/" makes a switch
    // only when the argument names nothing that exists and the letter stands alone
    // or is followed by ":" ("/p:Source=...", "/U"). "-" works with every form.
    if (slash) {
      bool alone = a.size() == 2 || a[2] == ':';
      slash = alone && !platform::path::exists(a);
    }
    if (dash || slash) {
      char letter = a[1];
      if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
      std::string rest = a.substr(2);
      switch (letter) {
        case 'P':
          if (!rest.empty() && rest.front() == ':') rest.erase(0, 1);
          // Nothing after the letter counts as no options.
          if (!rest.empty()) {
            rest = platform::text::replace_all(rest, ",", ";");
            FCommandOptions = platform::text::replace_all(rest, ";", "\r\n");
          }
          break;
        case 'I':
          if (voInfo) voInfo->OpenLink("", "ins", rest);
          return false;
        case 'U':
          if (voInfo) voInfo->OpenLink("", "uni", "");
          return false;
        default:
          break;
      }
    } else {
      FFileName = a;
    }
  }
  LoadStartup();
  return true;
}

void TvoProject::LoadStartup() {
  if (FFileName.empty() && FCommandOptions.empty()) FFileName = DefaultProjectFile();
  Open(false);
}

bool TvoProject::Open(bool Ask) {
  if (Ask) {
    std::string name = FFileName;
    std::string filter = FProjectFilter + "|" + FSourceFilter;
    if (!OpenFileDialog(filter, name, false)) return false;
    FFileName = name;
  }
  std::string name = FFileName;
  if (IsProjectFile(name)) {
    // A project file that cannot be read leaves everything as it was.
    // Only plain files are read: a FIFO in its place must not block the program.
    try {
      if (TvoFileUtils::IsRegularFile(name)) {
        std::string text = platform::text::decode_text_file(platform::file::read_all(name));
        FOptions.SetText(text);
        AddRecent();
      }
    } catch (...) {
    }
  } else if (!FCommandOptions.empty()) {
    FOptions.SetText(FCommandOptions);
    if (FAutoTarget && Target().empty()) SetValue("Target", platform::path::folder_part(Source()));
    // The command-line options make the project; the file that was opened is not
    // a project file, so it must never become the name a later Save writes to.
    FFileName.clear();
  } else {
    FFileName.clear();
    SetValue("Source", name);
    if (FAutoTarget && Target().empty()) SetValue("Target", platform::path::folder_part(name));
  }
  ApplyToControls();
  return true;
}

void TvoProject::New() {
  FFileName.clear();
  FOptions.Clear();
  ApplyToControls();
}

bool TvoProject::Save() {
  if (FFileName.empty()) return SaveAs();
  Commit(true);
  return true;
}

bool TvoProject::SaveAs() {
  std::string name = FFileName;
  if (!SaveFileDialog(FProjectFilter, FProjectExt, name)) return false;
  FFileName = name;
  Commit(true);
  return true;
}

void TvoProject::Commit(bool WriteFile) {
  CollectFromControls();
  if (!WriteFile) return;
  platform::file::write_all(FFileName, FOptions.GetText());
  AddRecent();
}

TvoPropList* TvoProject::PropListOf(TvoControl* Control) {
  std::int32_t tag = Control->Tag();
  // A positive tag refers to a list this project made for this very control.
  if (tag > 0 && static_cast<std::size_t>(tag) <= FPropLists.size() &&
      FPropLists[static_cast<std::size_t>(tag) - 1]->FInstance == Control)
    return FPropLists[static_cast<std::size_t>(tag) - 1].get();
  FPropLists.push_back(std::make_unique<TvoPropList>(Control));
  Control->SetTag(static_cast<std::int32_t>(FPropLists.size()));
  return FPropLists.back().get();
}

namespace {
std::string KeyOf(const std::string& ComponentName) {
  return ComponentName.empty() ? std::string() : ComponentName.substr(1);
}
}  // namespace

void TvoProject::ApplyToControls() {
  for (TvoControl* c : FControls) {
    TvoPropList* props = PropListOf(c);
    std::string name = c->ComponentName();
    std::string hint = c->HintText();
    std::string value = GetValue(KeyOf(name));
    if (value.empty()) {
      // The older key form: component name, ".", hint; read once, then dropped.
      std::string old = name + "." + hint;
      value = GetValue(old);
      SetValue(old, "");
    }
    props->SetPropText(hint, value);
  }
}

void TvoProject::CollectFromControls() {
  for (TvoControl* c : FControls) {
    TvoPropList* props = PropListOf(c);
    SetValue(KeyOf(c->ComponentName()), props->GetPropText(c->HintText()));
  }
}

void TvoProject::RegisterControl(TvoControl* Control) {
  if (Control) FControls.push_back(Control);
}

void TvoProject::UnregisterControl(TvoControl* Control) {
  std::erase(FControls, Control);
  for (auto& p : FPropLists)
    if (p->FInstance == Control) p->FInstance = nullptr;
}

void TvoProject::AddRecent() {
  for (const auto& r : FRecent)
    if (platform::text::equals_nocase(r, FFileName)) return;
  FRecent.insert(FRecent.begin(), FFileName);
}

bool TvoProject::IsProjectFile(std::string_view Name) const {
  return !FProjectExt.empty() && Name.ends_with(FProjectExt);
}

std::string TvoProject::RecentListFile() const { return voExeName() + ".log"; }

std::string TvoProject::DefaultProjectFile() const {
  return platform::path::change_extension(voExeName(), FProjectExt);
}
