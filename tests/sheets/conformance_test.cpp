// Conformance with the spreadsheet application: every xlsx/xlsm workbook of the
// shared fixtures is written sheet by sheet and compared with the CSV text the
// application wrote for it. The recorded files differ from ours in three known
// ways, normalised here and only here: they are in Windows-1252 (characters
// outside it written as "_" per UTF-16 unit), built-in date formats 14 and 22 show a
// two-digit year (the engine is switched to that form for this test), and the last
// row has no line end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/text.h"
#include "sheets/csv_writer.h"
#include "sheets/engine.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string decode_cp1252(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char32_t c = b;
    if (b >= 0x80 && b < 0xA0) c = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : b;
    platform::text::append_utf8(out, c);
  }
  return out;
}

bool in_cp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return true;
  for (char32_t h : kCp1252High)
    if (h && h == c) return true;
  return false;
}

// Our UTF-8 text as the Mac edition's code page would show it.
std::string to_cp1252_view(std::string_view utf8) {
  std::string out;
  for (char32_t c : platform::text::utf8_to_utf32(utf8)) {
    if (in_cp1252(c)) platform::text::append_utf8(out, c);
    else out += c > 0xFFFF ? "__" : "_";
  }
  return out;
}

// Splits CSV text into records of fields (quotes kept as written).
std::vector<std::vector<std::string>> records(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') quoted = false;
      field += c;
    } else if (c == '"') {
      quoted = true;
      field += c;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

// Empty when equal after normalisation; otherwise where they first differ.
std::string compare(const std::string& ours_utf8, const std::string& recorded) {
  std::string expected = decode_cp1252(recorded);
  if (!expected.empty() && (expected.size() < 2 || expected.compare(expected.size() - 2, 2, "\r\n") != 0)) expected += "\r\n";
  std::string actual = to_cp1252_view(ours_utf8);
  if (actual == expected) return {};
  auto a = records(actual), e = records(expected);
  for (std::size_t r = 0; r < std::max(a.size(), e.size()); ++r) {
    if (r >= a.size()) return "line " + std::to_string(r + 1) + ": missing in ours";
    if (r >= e.size()) return "line " + std::to_string(r + 1) + ": extra line in ours";
    for (std::size_t c = 0; c < std::max(a[r].size(), e[r].size()); ++c) {
      std::string av = c < a[r].size() ? a[r][c] : "<none>";
      std::string ev = c < e[r].size() ? e[r][c] : "<none>";
      if (av == ev) continue;
      return "line " + std::to_string(r + 1) + ", column " + std::to_string(c + 1) + ": expected [" + ev + "], actual [" + av + "]";
    }
  }
  return "texts differ";
}

struct Exception {
  std::string reason;
  bool seen_passing = false;
};

std::map<std::pair<std::string, std::string>, Exception> read_exceptions() {
  std::map<std::pair<std::string, std::string>, Exception> out;
  std::ifstream in(std::string(TABRIX_SOURCE_DIR) + "/tests/sheets/data/conformance_exceptions.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::size_t a = line.find('\t');
    std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) continue;
    out[{line.substr(0, a), line.substr(a + 1, b - a - 1)}] = Exception{line.substr(b + 1)};
  }
  return out;
}

}  // namespace

TEST(Conformance, WorkbooksMatchTheApplicationsCsv) {
  const fs::path root = fs::path(TABRIX_FIXTURES_DIR) / "excel";
  if (!fs::is_directory(root / "workbooks")) GTEST_SKIP() << "fixtures not found at " << root << "; conformance not checked";
  auto exceptions = read_exceptions();
  // The recorded files show built-in formats 14 and 22 with a two-digit year.
  sheets::testing::set_short_year_builtin_dates(true);
  struct Restore {
    ~Restore() { sheets::testing::set_short_year_builtin_dates(false); }
  } restore;
  int sheets = 0, identical = 0, listed = 0, skipped_files = 0;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root / "workbooks"))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext != ".xlsx" && ext != ".xlsm") {
      ++skipped_files;  // .xls and .xlsb belong to readers still to come
      continue;
    }
    const std::string source = file.parent_path().filename().string();
    const std::string key = source + "/" + file.filename().string();
    const fs::path csv_dir = root / "csv" / source;
    auto listed_reason = [&](const std::string& sheet) -> Exception* {
      auto it = exceptions.find({key, sheet});
      if (it == exceptions.end()) it = exceptions.find({key, "*"});
      return it == exceptions.end() ? nullptr : &it->second;
    };
    std::unique_ptr<sheets::Workbook> wb;
    try {
      wb = sheets::Workbook::open(file.string());
    } catch (const std::exception& ex) {
      if (listed_reason("*")) {
        ++listed;
        continue;
      }
      ADD_FAILURE() << key << ": cannot open: " << ex.what();
      continue;
    }
    for (int i = 0; i < static_cast<int>(wb->sheets().size()); ++i) {
      const fs::path expected = csv_dir / (file.filename().string() + "." + std::to_string(i) + ".csv");
      const bool has_expected = fs::exists(expected);
      // A sheet that could not be saved (a chart sheet) has no recorded file, and
      // neither has an empty sheet (whose file is empty).
      if (!has_expected && wb->sheets()[static_cast<std::size_t>(i)].chart) continue;
      ++sheets;
      std::string ours, diff;
      try {
        wb->write_csv(i, ours);
        diff = compare(ours, has_expected ? read_file(expected) : std::string());
      } catch (const std::exception& ex) {
        diff = std::string("failed: ") + ex.what();
      }
      Exception* ex = listed_reason(std::to_string(i));
      if (diff.empty()) {
        ++identical;
        if (ex) ex->seen_passing = true;
      } else if (ex) {
        ++listed;
      } else {
        ADD_FAILURE() << key << " sheet " << i << " (" << wb->sheets()[static_cast<std::size_t>(i)].name << "): " << diff;
      }
    }
  }
  for (const auto& [k, ex] : exceptions)
    if (ex.seen_passing && k.second != "*")
      ADD_FAILURE() << k.first << " sheet " << k.second << " is listed as an exception but now matches; remove it from the list";
  std::cout << "[conformance] " << identical << " of " << sheets << " sheets byte-identical, " << listed
            << " listed exceptions, " << skipped_files << " workbooks in other formats skipped\n";
}
