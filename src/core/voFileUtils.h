// File and dialog utilities: a file's time in packed MS-DOS form, whole-file text
// reading and writing, and the three standard dialogs (choose a folder, open files,
// save a file) behind a replaceable interface: the window installs the real dialogs,
// tests install a fake, and without any every dialog counts as cancelled.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TvoFileUtils {
 public:
  TvoFileUtils() = delete;

  // Packed MS-DOS date and time of a file or folder (no trailing delimiter needed):
  // the date in the high 16 bits (year-1980 in bits 25-31, month 21-24, day 16-20),
  // the time in the low 16 bits (hour 11-15, minute 5-10, seconds/2 0-4). -1 when the
  // entry does not exist or its time falls outside 1980-2107. Never throws.
  //
  // UseCreation: this platform keeps no creation time in the classic sense; the
  // file's birth time is used where the file system records it (statx), otherwise
  // its status-change time, the nearest that POSIX offers. Without UseCreation the
  // last-write time. KeepUtc keeps the time in UTC; otherwise local time.
  static std::int32_t FileDosTime(const std::string& Path, bool UseCreation, bool KeepUtc);
  // The packing step alone, for a broken-down time; -1 outside 1980-2107.
  static std::int32_t PackDosTime(const std::tm& Time);
  // The creation time as described above, or nothing when the entry is missing.
  static std::optional<timespec> CreationTime(const std::string& Path);

  // Reads the whole file. CharSize 1: the bytes are the UTF-8 text. CharSize 2: the
  // bytes are UTF-16 little-endian code units (a last odd byte is not part of the
  // text), converted to UTF-8. No byte-order mark is recognised or removed. A file
  // that cannot be opened or read throws platform::FileError.
  static void LoadText(const std::string& Path, std::int32_t CharSize, std::string& Text);
  static std::string LoadText(const std::string& Path, std::int32_t CharSize);
  // Writes the text: a missing folder is created first (failures there ignored); an
  // existing file is truncated, or appended to with Append. CharSize 1 writes the
  // UTF-8 bytes, CharSize 2 the UTF-16 little-endian code units. No byte-order
  // mark. Throws platform::FileError.
  // A FIFO or device in place of the file fails instead of blocking.
  static void SaveText(const std::string& Path, std::string_view Text, bool Append, std::int32_t CharSize);
  // True for an existing plain file (not a folder, FIFO or device): background
  // reads (store, recent list, project files) read nothing else, so that they never
  // block on a FIFO.
  static bool IsRegularFile(const std::string& Path);
};

// What a file dialog is asked to show. The core computes the starting name and
// folder; the dialog implementation only shows and reports.
struct TvoFileDialogSetup {
  std::string Filter;       // "Description|pattern;pattern|Description|pattern..."
  std::string StartName;    // the name offered in the name box
  std::string StartFolder;  // "" when the dialog picks its own
  std::string DefaultExt;   // with its leading "."; added to a name typed without one
  bool Multi = false;       // several files may be chosen
  bool MustExist = false;   // a chosen file must exist (open dialog)
  bool AskReplace = false;  // ask before an existing file is chosen (save dialog)
};

class TvoDialogs {
 public:
  virtual ~TvoDialogs() = default;
  // Chosen: the confirmed folder. False when cancelled.
  virtual bool BrowseFolder(const std::string& Start, std::string& Chosen) = 0;
  // Chosen: the full paths of the confirmed files (one without Multi).
  virtual bool OpenFiles(const TvoFileDialogSetup& Setup, std::vector<std::string>& Chosen) = 0;
  virtual bool SaveFile(const TvoFileDialogSetup& Setup, std::string& Chosen) = 0;
};

// Installs the dialogs (not owned); nullptr removes them. Returns the previous ones.
TvoDialogs* voSetDialogs(TvoDialogs* Dialogs);
TvoDialogs* voDialogs();

// The folder dialog: the chosen folder, or Start when cancelled. A non-empty Start
// becomes LastBrowseFolder, the folder the dialog starts in.
std::string BrowseFolder(std::string_view Start);
// The open dialog. The name box starts with FileName, every "?" turned into "*"; the
// folder is the folder part of FileName. On OK FileName becomes the chosen full path,
// with Multi every chosen path followed by CR LF. On cancel FileName is unchanged.
bool OpenFileDialog(std::string_view Filter, std::string& FileName, bool Multi);
// The save dialog; asks before an existing file is replaced.
bool SaveFileDialog(std::string_view Filter, std::string_view DefaultExt, std::string& FileName);

// The starting folder of the last folder dialog that was given one.
std::string LastBrowseFolder();
// Forgets LastBrowseFolder (process end).
void voReleaseDialogs();
