// The OOXML spreadsheet package: the workbook part found through the package
// relationships, its sheets, the styles' number formats and the shared strings.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sheets/zip/zip.h"

namespace sheets::xlsx {

// Limits on the tables held in memory for the whole workbook.
inline constexpr std::uint64_t kMaxSharedStrings = 16u << 20;       // entries
inline constexpr std::uint64_t kMaxSharedStringBytes = 1ull << 30;  // text
inline constexpr std::uint64_t kMaxStyles = 1u << 20;               // cellXfs entries
inline constexpr std::uint64_t kMaxSmallPartSize = 256u << 20;      // workbook, rels, styles
static_assert(kMaxSharedStringBytes < (1ull << 32), "shared-string offsets are 32-bit");

struct SheetPart {
  std::string name;
  std::string part;  // package part name, without leading "/"; empty when unknown
  bool chart = false;
  int visibility = 0;  // 0 visible, 1 hidden, 2 very hidden
};

// Shared strings, held in one buffer with offsets.
class SharedStrings {
 public:
  std::size_t size() const { return offsets_.empty() ? 0 : offsets_.size() - 1; }
  std::string_view get(std::size_t i) const {
    return std::string_view(text_.data() + offsets_[i], offsets_[i + 1] - offsets_[i]);
  }
  void add(std::string_view s);
  void reserve(std::size_t n) { offsets_.reserve(n + 1); }

 private:
  std::string text_;
  std::vector<std::uint32_t> offsets_{0};  // the text stays below 4 GiB (kMaxSharedStringBytes)
};

struct Styles {
  std::vector<int> xf_numfmt;                    // cellXfs index -> number format id
  std::unordered_map<int, std::string> custom;   // numFmtId -> format code
};

class Package {
 public:
  // Reads the package structure; throws Error with what is wrong.
  explicit Package(std::unique_ptr<zip::Archive> archive);

  const zip::Archive& archive() const { return *archive_; }
  const std::vector<SheetPart>& sheets() const { return sheets_; }
  int active_sheet() const { return active_; }
  bool date1904() const { return date1904_; }
  bool has_vba_project() const { return vba_; }
  const Styles& styles() const { return styles_; }
  const SharedStrings& shared_strings() const { return sst_; }

 private:
  void read_workbook(const std::string& part);
  void read_styles(const std::string& part);
  void read_shared_strings(const std::string& part);

  std::unique_ptr<zip::Archive> archive_;
  std::vector<SheetPart> sheets_;
  int active_ = 0;
  bool date1904_ = false;
  bool vba_ = false;
  Styles styles_;
  SharedStrings sst_;
};

// Calls f(row, col) (0-based) for every cell of the sheet that holds a note.
void read_sheet_notes(const zip::Archive& archive, const std::string& sheet_part,
                      const std::function<void(std::uint32_t, std::uint32_t)>& f);

// Resolves a relationship target against the folder of the part that holds it.
std::string resolve_target(std::string_view source_part, std::string_view target);
// The relationships part of a part ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels").
std::string rels_part(std::string_view part);
// Appends text with the _xHHHH_ escapes decoded.
void append_unescaped(std::string& out, std::string_view s);

}  // namespace sheets::xlsx
