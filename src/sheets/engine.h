// The spreadsheet engine: opens a workbook (xlsx, xlsm, xltx, xltm) and writes its
// sheets in CSV file format 6, the text the spreadsheet application writes for a
// sheet saved as CSV with US English conventions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sheets/error.h"

namespace sheets {

struct SheetInfo {
  std::string name;
  bool chart = false;
  int visibility = 0;  // 0 visible, 1 hidden, 2 very hidden
};

namespace xlsx {
class Package;
}

class Workbook {
 public:
  // Opens a workbook; throws Error with a text the user can act on (a missing
  // file, a file that is not a workbook or is damaged, an encrypted workbook).
  static std::unique_ptr<Workbook> open(const std::string& path);
  // The same over the bytes of a package (tests, fuzzing); name stands in messages.
  static std::unique_ptr<Workbook> open_memory(std::string data, const std::string& name);
  ~Workbook();

  const std::vector<SheetInfo>& sheets() const { return sheets_; }
  int active_sheet() const;  // 0-based
  bool date1904() const;
  bool has_vba_project() const;
  const std::string& path() const { return path_; }

  // Writes sheet index (0-based) as CSV file format 6 to target (temporary name,
  // renamed into place). Throws Error.
  void save_csv(int index, const std::string& target) const;
  // The same bytes, into memory (tests, benchmarks).
  void write_csv(int index, std::string& out) const;

 private:
  Workbook() = default;
  void check_sheet(int index) const;
  [[noreturn]] void damaged(const std::string& why) const;

  std::string path_;
  std::unique_ptr<xlsx::Package> package_;
  std::vector<SheetInfo> sheets_;
};

// The engine's own version text (a number such as "16.0").
const char* engine_version();

// Registers the engine's application object under the ProgID "Excel.Application".
void register_excel_application();

}  // namespace sheets
