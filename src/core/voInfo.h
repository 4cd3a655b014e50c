// The settings store beside the program (mainly run statistics), the program's
// outside links (help file, support mail, home-site pages) and the handler of
// unhandled errors in the window.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/voProject.h"

class TvoInfo {
 public:
  // Computes FInstallId, loads the store and counts the start ("R"). A store that
  // cannot be written never ends or blocks the program: the counts stay in memory.
  TvoInfo();
  // Writes the store (failures ignored).
  virtual ~TvoInfo();
  TvoInfo(const TvoInfo&) = delete;
  TvoInfo& operator=(const TvoInfo&) = delete;

  // The program's file name with its extension replaced by ".ext".
  std::string StoreFileName() const;
  // Reads the store file: a missing or unreadable file, or one without "R", gives an
  // empty store; then "v" := 2.
  void LoadStore();
  // Writes the store file (read-only attribute cleared, missing folder created).
  // False when it could not be written; never throws.
  bool SaveStore();

  // When Value is 0 or less, Value := the number held by Name (0 when none) +
  // Increment. When the decimal text of Value differs from what Name holds, Name :=
  // that text and the store is written. Safe from several threads at once.
  void UpdateCounter(std::string_view Name, std::int32_t Value, std::int32_t Increment);
  // The value of a store key.
  std::string GetValue(std::string_view Name) const;
  // For every store line whose name begins with a capital A-Z, in store order: that
  // letter in lower case and the line's value ("r12c3a40s38f2").
  std::string StatisticsText() const;

  // Builds the address of a link (see OpenLink).
  std::string LinkAddress(std::string_view Kind, std::string_view Page, std::string_view Extra) const;
  // Kind "supports": a support mail; "h": the help file; anything else a home-site
  // page with the query a, p, v, c, i (and Extra). The address goes to the shell
  // opener as one argument; the outcome is ignored.
  void OpenLink(std::string_view Kind, std::string_view Page, std::string_view Extra);
  // The handler of unhandled errors in the window: counts "E" and opens an error
  // report page. Never throws.
  void AppException(const std::string& Message) noexcept;

  // The installation identifier: the creation time of the program's folder, packed
  // (see TvoFileUtils::FileDosTime; on this platform the folder's birth time where
  // the file system records it, else its status-change time), in UTC; -1 when it
  // cannot be had.
  std::int32_t FInstallId = -1;
  // Guarded by FLock once threads run; use GetValue/UpdateCounter from other threads.
  TvoOptionList FStore;

 private:
  bool SaveStoreLocked();
  mutable std::recursive_mutex FLock;
};

extern TvoInfo* voInfo;

// The home site's address and the support mail address of this build.
std::string voHomeUrl();
std::string voSupportMail();
