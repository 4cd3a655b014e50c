#include "core/voFileUtils.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

// The folder dialog's start folder and the installed dialogs; the main thread uses
// them, the lock only keeps a stray caller from tearing them.
std::mutex g_dialog_mutex;
TvoDialogs* g_dialogs = nullptr;
std::string g_last_browse_folder;

// Years that the packed form can hold.
constexpr int kDosFirstYear = 1980;
constexpr int kDosLastYear = 2107;

}  // namespace

std::int32_t TvoFileUtils::PackDosTime(const std::tm& t) {
  int year = t.tm_year + 1900;
  if (year < kDosFirstYear || year > kDosLastYear) return -1;
  auto date = static_cast<std::uint32_t>(((year - kDosFirstYear) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
  auto time = static_cast<std::uint32_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
  return static_cast<std::int32_t>((date << 16) | (time & 0xFFFFu));
}

std::optional<timespec> TvoFileUtils::CreationTime(const std::string& Path) {
  if (Path.empty()) return std::nullopt;
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(AT_FDCWD, Path.c_str(), 0, STATX_BTIME | STATX_CTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) return timespec{static_cast<time_t>(sx.stx_btime.tv_sec), sx.stx_btime.tv_nsec};
    return timespec{static_cast<time_t>(sx.stx_ctime.tv_sec), sx.stx_ctime.tv_nsec};
  }
  return std::nullopt;
#else
  auto t = platform::file::get_times(Path);
  if (!t) return std::nullopt;
  return t->status_change;
#endif
}

std::int32_t TvoFileUtils::FileDosTime(const std::string& Path, bool UseCreation, bool KeepUtc) {
  std::optional<timespec> when;
  if (UseCreation) {
    when = CreationTime(Path);
  } else if (auto t = platform::file::get_times(Path)) {
    when = t->modification;
  }
  if (!when) return -1;
  std::tm parts{};
  time_t secs = when->tv_sec;
  if (KeepUtc ? gmtime_r(&secs, &parts) == nullptr : localtime_r(&secs, &parts) == nullptr) return -1;
  return PackDosTime(parts);
}

void TvoFileUtils::LoadText(const std::string& Path, std::int32_t CharSize, std::string& Text) {
  Text.clear();
  if (platform::path::exists(Path) && !IsRegularFile(Path)) platform::throw_file_error("Cannot open file", Path, EINVAL);
  std::string bytes = platform::file::read_all(Path);
  if (CharSize == 2) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      auto lo = static_cast<unsigned char>(bytes[2 * i]);
      auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
      units[i] = static_cast<char16_t>(lo | (hi << 8));
    }
    Text = platform::text::utf16_to_utf8(units);
  } else {
    Text = std::move(bytes);
  }
}

std::string TvoFileUtils::LoadText(const std::string& Path, std::int32_t CharSize) {
  std::string text;
  LoadText(Path, CharSize, text);
  return text;
}

void TvoFileUtils::SaveText(const std::string& Path, std::string_view Text, bool Append, std::int32_t CharSize) {
  std::string folder = platform::path::folder_part(Path);
  if (!folder.empty() && !platform::path::dir_exists(folder)) platform::path::make_dirs(folder);

  std::string bytes;
  if (CharSize == 2) {
    std::u16string units = platform::text::utf8_to_utf16(Text);
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>((u >> 8) & 0xFF);
    }
  } else {
    bytes.assign(Text);
  }

  // O_NONBLOCK makes a FIFO without reader fail at once; plain files ignore it.
  int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (Append ? O_APPEND : O_TRUNC), 0666);
  if (fd < 0) platform::throw_file_error("Cannot create file", Path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    platform::throw_file_error("Cannot create file", Path, EINVAL);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int code = errno;
      ::close(fd);
      platform::throw_file_error("Cannot write file", Path, code);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) platform::throw_file_error("Cannot write file", Path, errno);
}

bool TvoFileUtils::IsRegularFile(const std::string& Path) {
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---------------------------------------------------------------------------
// Dialogs

TvoDialogs* voSetDialogs(TvoDialogs* Dialogs) {
  std::lock_guard lock(g_dialog_mutex);
  TvoDialogs* old = g_dialogs;
  g_dialogs = Dialogs;
  return old;
}

TvoDialogs* voDialogs() {
  std::lock_guard lock(g_dialog_mutex);
  return g_dialogs;
}

std::string LastBrowseFolder() {
  std::lock_guard lock(g_dialog_mutex);
  return g_last_browse_folder;
}

void voReleaseDialogs() {
  std::lock_guard lock(g_dialog_mutex);
  g_last_browse_folder.clear();
  g_last_browse_folder.shrink_to_fit();
}

std::string BrowseFolder(std::string_view Start) {
  std::string result(Start);
  if (!Start.empty()) {
    std::lock_guard lock(g_dialog_mutex);
    g_last_browse_folder = result;
  }
  TvoDialogs* d = voDialogs();
  std::string chosen;
  if (d && d->BrowseFolder(result, chosen)) result = chosen;
  return result;
}

bool OpenFileDialog(std::string_view Filter, std::string& FileName, bool Multi) {
  TvoDialogs* d = voDialogs();
  if (!d) return false;
  TvoFileDialogSetup setup;
  setup.Filter.assign(Filter);
  setup.StartName = platform::text::replace_all(FileName, "?", "*");
  if (!FileName.empty()) setup.StartFolder = platform::path::folder_part(FileName);
  setup.Multi = Multi;
  setup.MustExist = true;
  std::vector<std::string> chosen;
  if (!d->OpenFiles(setup, chosen) || chosen.empty()) return false;
  if (Multi) {
    FileName = platform::text::join_lines(chosen);
  } else {
    FileName = chosen.front();
  }
  return true;
}

bool SaveFileDialog(std::string_view Filter, std::string_view DefaultExt, std::string& FileName) {
  TvoDialogs* d = voDialogs();
  if (!d) return false;
  TvoFileDialogSetup setup;
  setup.Filter.assign(Filter);
  setup.StartName = FileName;
  if (!FileName.empty()) setup.StartFolder = platform::path::folder_part(FileName);
  setup.DefaultExt.assign(DefaultExt);
  setup.AskReplace = true;
  std::string chosen;
  if (!d->SaveFile(setup, chosen) || chosen.empty()) return false;
  FileName = chosen;
  return true;
}
