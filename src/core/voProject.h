// The batch project: the ordered name=value option list, one typed accessor per
// option key, project files, the recent-projects list, the product's constants and
// the binding of option keys to the main window's controls.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/voTypes.h"

// ---------------------------------------------------------------------------
// Value rules shared by the project, the settings store and the options text.

// Boolean: a value that reads as a number (the whole-number rule, or a decimal
// fraction such as "0.0") is true when it is not zero; otherwise the words "True" and
// "False" in any letter case; anything else, the empty value included, is Default.
bool voStrToBool(std::string_view Value, bool Default);
// Whole number: optional leading blanks and sign, then decimal digits, or
// hexadecimal digits after "$", "x" or "0x"; anything else (trailing characters, a
// value outside the 32-bit range, the empty value) is Default. Hexadecimal values up
// to $FFFFFFFF wrap into the signed range ($FFFFFFFF is -1).
std::int32_t voStrToInt(std::string_view Value, std::int32_t Default);

// ---------------------------------------------------------------------------
// The option list: ordered text lines. In a line the name is the part before the
// first "=" and the value everything after it. Reading finds the first line whose
// name equals the key without regard to case (names are not trimmed); writing a
// non-empty value replaces that line in place or appends one; writing the empty value
// deletes it. Lines without "=" stay in place and never match.
// Not synchronised: see TvoSyncOptionList for the project's shared list.
class TvoOptionList {
 public:
  TvoOptionList() = default;
  explicit TvoOptionList(std::string_view Text) { SetText(Text); }

  std::string GetValue(std::string_view Key) const;
  void SetValue(std::string_view Key, std::string_view Value);
  bool GetBool(std::string_view Key, bool Default) const { return voStrToBool(GetValue(Key), Default); }
  std::int32_t GetInt(std::string_view Key, std::int32_t Default) const {
    return voStrToInt(GetValue(Key), Default);
  }
  // Index of the first line whose name matches Key, or -1.
  int IndexOfName(std::string_view Key) const;

  // Every line followed by CR LF.
  std::string GetText() const;
  // Replaces every line: the text is split at CR LF, a lone CR and a lone LF; a
  // final line break adds no empty line.
  void SetText(std::string_view Text);

  std::vector<std::string> Lines() const { return FLines; }
  void SetLines(std::vector<std::string> Lines) { FLines = std::move(Lines); }
  // Appends one line unchanged.
  void Add(std::string_view Line) { FLines.emplace_back(Line); }
  void Clear() { FLines.clear(); }
  bool Empty() const { return FLines.empty(); }
  int Count() const { return static_cast<int>(FLines.size()); }
  const std::string& Line(int Index) const { return FLines.at(static_cast<std::size_t>(Index)); }

  // Name and value parts of one line ("" for the value when it has no "=").
  static std::string NameOf(std::string_view Line);
  static std::string ValueOf(std::string_view Line);

  bool operator==(const TvoOptionList&) const = default;

 private:
  std::vector<std::string> FLines;
};

// The same list behind a reader-writer lock: the batch and worker threads read
// options during a run while the main thread may change them (options dialog).
// Every operation is atomic on its own; Snapshot gives a consistent copy.
class TvoSyncOptionList {
 public:
  std::string GetValue(std::string_view Key) const;
  void SetValue(std::string_view Key, std::string_view Value);
  bool GetBool(std::string_view Key, bool Default) const { return voStrToBool(GetValue(Key), Default); }
  std::int32_t GetInt(std::string_view Key, std::int32_t Default) const {
    return voStrToInt(GetValue(Key), Default);
  }
  std::string GetText() const;
  void SetText(std::string_view Text);
  std::vector<std::string> Lines() const;
  void SetLines(std::vector<std::string> Lines);
  void Clear();
  bool Empty() const;
  int Count() const;
  TvoOptionList Snapshot() const;
  void Assign(const TvoOptionList& List);

 private:
  mutable std::shared_mutex FLock;
  TvoOptionList FList;
};

// ---------------------------------------------------------------------------
// Control binding. A control of the window that shows an option: its component
// name without the first character (the kind prefix) is the option key, its hint
// text names the property that carries the value, and its tag holds the control's
// TvoPropList once one is made (0 or less: none yet; controls start with -1).

enum class TvoPropKind {
  Text,         // any property read and written as text
  Enumeration,  // a value out of EnumNames (Booleans: "False", "True")
  Integer,      // a whole number
};

struct TvoPropInfo {
  std::string Name;
  TvoPropKind Kind = TvoPropKind::Text;
  std::vector<std::string> EnumNames;  // Enumeration: the names of the values 0, 1, ...
};

// What the window implements for each bound control (with Qt's property system);
// tests implement it with a small fake. Any of these may throw; the binding treats a
// failure as "no value" on reading and "unchanged" on writing.
class TvoControl {
 public:
  virtual ~TvoControl() = default;
  virtual std::string ComponentName() const = 0;
  virtual std::string HintText() const = 0;
  virtual std::int32_t Tag() const = 0;
  virtual void SetTag(std::int32_t Value) = 0;
  // The published properties of the control, inherited ones included.
  virtual std::vector<TvoPropInfo> PropInfos() const = 0;
  // Integer value, or the ordinal of an enumeration value.
  virtual std::int64_t GetOrdProp(const TvoPropInfo& Prop) const = 0;
  virtual void SetOrdProp(const TvoPropInfo& Prop, std::int64_t Value) = 0;
  virtual std::string GetStrProp(const TvoPropInfo& Prop) const = 0;
  virtual void SetStrProp(const TvoPropInfo& Prop, std::string_view Value) = 0;
};

// Reads and writes the properties of one control by name as text.
class TvoPropList {
 public:
  explicit TvoPropList(TvoControl* Instance);
  virtual ~TvoPropList() = default;

  // Integer property: decimal digits; enumeration: the name of its value ("True",
  // "False"); other properties: their text. Unknown property or any error: "".
  std::string GetPropText(std::string_view Name) const;
  // Enumeration: by the name of a value, letters compared without regard to case,
  // the empty text standing for "False"; integer: by the whole-number rule; other
  // properties: as text. Unknown property, unknown value name or any error: the
  // property stays unchanged; nothing is reported.
  void SetPropText(std::string_view Name, std::string_view Text);

  std::int32_t FCount = 0;
  std::vector<TvoPropInfo> FProps;
  TvoControl* FInstance = nullptr;

 private:
  const TvoPropInfo* Find(std::string_view Name) const;
};

// ---------------------------------------------------------------------------

class TvoProject {
 public:
  TvoProject();  // reads the recent list
  virtual ~TvoProject();  // writes the recent list; resets the tags of the controls
  TvoProject(const TvoProject&) = delete;
  TvoProject& operator=(const TvoProject&) = delete;

  // Raw value of a key. These and the typed accessors are safe on any thread.
  std::string GetValue(std::string_view Key) const { return FOptions.GetValue(Key); }
  void SetValue(std::string_view Key, std::string_view Value) { FOptions.SetValue(Key, Value); }
  bool GetBool(std::string_view Key, bool Default) const { return FOptions.GetBool(Key, Default); }
  std::int32_t GetInt(std::string_view Key, std::int32_t Default) const { return FOptions.GetInt(Key, Default); }

  // Typed accessors, one per option key.
  std::string Source() const;
  std::string Target() const;
  bool Subdir() const;
  std::int32_t ThreadsCount() const;
  // 0 no (another name), 1 yes (overwrite), 9 skip.
  std::int32_t IsOverwrite() const;
  bool KeepFileTime() const;
  bool KeepTargetSubdirs() const;
  bool MacroEnabled() const;
  bool DeleteSource() const;
  std::string RenameSource() const;
  bool PureConsole() const;
  // Also true when PureConsole is true or Daemon is above 0.
  bool RunAndClose() const;
  std::int32_t Daemon() const;

  // "Target" made ready for use as a folder: created with its missing parents while
  // FPathDelim is the platform's delimiter (a failure is ignored), FPathDelim
  // appended unless it is the last character. An empty "Target" gives the empty
  // text and creates nothing.
  std::string TargetFolder();

  // Reads the first command-line argument (voApp's FParam1, or Param1) and loads the
  // start-up project. Returns false when the process is to end (the install and
  // uninstall notification switches); start-up then tears down and exits.
  bool ReadCommandLine();
  bool ReadCommandLine(std::string_view Param1);
  // With neither a file name nor command-line options, the default project file;
  // then Open without the dialog.
  void LoadStartup();
  // Opens a project (with the open dialog when Ask); false when the dialog was
  // cancelled, in which case nothing changed.
  bool Open(bool Ask);
  void New();
  // Commit with writing when the project has a file name, else SaveAs. False when
  // the save dialog was cancelled. Write failures are thrown to the caller.
  bool Save();
  bool SaveAs();
  // CollectFromControls; with WriteFile, writes the option list to FFileName (a
  // failure is thrown to the caller) and adds the name to the recent list.
  void Commit(bool WriteFile);
  void ApplyToControls();
  void CollectFromControls();
  // Controls are not owned; a control must be unregistered before it is destroyed
  // unless the project goes first.
  void RegisterControl(TvoControl* Control);
  void UnregisterControl(TvoControl* Control);
  void AddRecent();
  bool IsProjectFile(std::string_view Name) const;
  // The program's full file name followed by ".log".
  std::string RecentListFile() const;
  // The program's file name with its extension replaced by FProjectExt.
  std::string DefaultProjectFile() const;
  // The TvoPropList that the tag of Control refers to, made on first use.
  TvoPropList* PropListOf(TvoControl* Control);

  // Fields, in their documented order.
  std::vector<TvoControl*> FControls;
  TvoSyncOptionList FOptions;
  TvoConverterClass FConverterClass;
  bool FAutoTarget = true;
  bool FOverwriteDefault = true;
  std::string FProjectExt;
  std::string FProjectFilter;
  std::string FFileName;
  std::vector<std::string> FRecent;
  std::string FCommandOptions;
  std::string FProductId;
  char FPathDelim = '/';
  std::string FTitle;
  std::string FSourceFilter;
  std::string FSourceMask;
  std::string FTargetExt;
  std::string FTargetExt2;
  std::string FMacroExt;
  std::string FVersion;

 private:
  std::vector<std::unique_ptr<TvoPropList>> FPropLists;  // tag n > 0 is FPropLists[n - 1]
};

extern TvoProject* voProject;
