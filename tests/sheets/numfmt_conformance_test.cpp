// Conformance of the number-format renderer with the tables recorded from the
// spreadsheet application (shared fixtures, numfmt/). Cases judged to be recording
// artefacts are listed, with what we show instead and why, in
// tests/sheets/data/numfmt_known_divergences.tsv.
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "sheets/numfmt/numfmt.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using sheets::numfmt::Format;

const fs::path kFixtures = fs::path(TABRIX_FIXTURES_DIR) / "numfmt";
const fs::path kDivergences =
    fs::path(TABRIX_SOURCE_DIR) / "tests" / "sheets" / "data" / "numfmt_known_divergences.tsv";

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t i = s.find(sep, start);
    out.push_back(s.substr(start, i == std::string::npos ? std::string::npos : i - start));
    if (i == std::string::npos) break;
    start = i + 1;
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  for (auto& l : lines)
    if (!l.empty() && l.back() == '\r') l.pop_back();
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// "#{255}" in the divergence file stands for 255 '#' characters.
std::string expand(const std::string& s) {
  if (s.size() > 3 && s.compare(0, 2, "#{") == 0 && s.back() == '}') {
    std::size_t n = 0;
    auto r = std::from_chars(s.data() + 2, s.data() + s.size() - 1, n);
    if (r.ec == std::errc() && r.ptr == s.data() + s.size() - 1) return std::string(n, '#');
  }
  return s;
}

// Reads the whole numbers of `text` separated by any of `seps`: "2/15/80" -> 2 15 80.
std::vector<long> numbers_in(const std::string& text) {
  std::vector<long> out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    long v = 0;
    auto r = std::from_chars(p, end, v);
    if (r.ec == std::errc()) {
      out.push_back(v);
      p = r.ptr;
    } else {
      ++p;
    }
  }
  return out;
}

struct Divergence {
  std::string expected;
  std::string ours;
  std::string reason;
};

using Key = std::tuple<std::string, std::string, std::string>;  // file, format, value

const std::map<Key, Divergence>& divergences() {
  static const std::map<Key, Divergence> table = [] {
    std::map<Key, Divergence> t;
    for (const std::string& line : lines_of(read_file(kDivergences))) {
      if (line.empty() || line[0] == '#') continue;
      auto f = split(line, '\t');
      if (f.size() < 6) {
        ADD_FAILURE() << "bad divergence line: " << line;
        continue;
      }
      t[{f[0], f[1], f[2]}] = Divergence{f[3], expand(f[4]), f[5]};
    }
    return t;
  }();
  return table;
}

struct Tally {
  const char* file;
  int passed = 0;
  int marked = 0;
  int skipped = 0;
  ~Tally() {
    std::cout << "[numfmt] " << file << ": " << passed << " passed, " << marked
              << " listed divergences, " << skipped << " skipped\n";
  }
};

// Checks one case: against the recorded text, or against our documented text when
// the case is listed as a divergence.
void check(Tally& tally, const std::string& format, const std::string& value,
           const std::string& expected, const std::string& actual) {
  auto it = divergences().find({tally.file, format, value});
  if (it != divergences().end()) {
    EXPECT_EQ(it->second.expected, expected) << tally.file << " format " << format << " value "
                                             << value << ": divergence file is stale";
    EXPECT_EQ(it->second.ours, actual) << tally.file << " format " << format << " value "
                                       << value << " (listed divergence)";
    ++tally.marked;
    return;
  }
  EXPECT_EQ(expected, actual) << tally.file << " format [" << format << "] value " << value;
  if (expected == actual) ++tally.passed;
}

std::string render(const std::string& format, double v, bool date1904 = false) {
  return Format::parse(format)->render(v, date1904);
}

std::string render_text(const std::string& format, const std::string& text) {
  std::string out;
  Format::parse(format)->render_text(text, out);
  return out;
}

class NumfmtConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kFixtures))
      GTEST_SKIP() << "shared number-format tables not found at " << kFixtures;
  }
  json load(const char* name) { return json::parse(read_file(kFixtures / name)); }
};

TEST_F(NumfmtConformance, General) {
  Tally tally{"general.json"};
  for (const json& c : load("general.json")) {
    const json& v = c[0];
    const std::string fmt(sheets::numfmt::builtin_format(c[1].get<int>()));
    const std::string expected = c[2].get<std::string>();
    if (v.is_boolean()) {  // booleans are shown by the CSV writer itself
      ++tally.skipped;
      continue;
    }
    if (v.is_string()) {
      check(tally, fmt, v.dump(), expected, render_text(fmt, v.get<std::string>()));
      continue;
    }
    std::string fast;
    sheets::numfmt::format_general(v.get<double>(), fast);
    EXPECT_EQ(fast, render(fmt, v.get<double>())) << "fast path differs for " << v.dump();
    check(tally, fmt, v.dump(), expected, fast);
  }
}

// The recorded tables show built-in format 14 (and 22) the Mac way, with a two-digit
// year; we show four digits. Rewrites "m/d/yy" in an expectation to "m/d/yyyy" when
// the two digits agree with the value's year.
std::string four_digit_year(const std::string& expected, double value) {
  // m/d/yy, optionally followed by " time".
  const std::size_t s1 = expected.find('/');
  const std::size_t s2 = s1 == std::string::npos ? s1 : expected.find('/', s1 + 1);
  if (s2 == std::string::npos || s2 + 3 > expected.size()) return expected;
  const std::string yy = expected.substr(s2 + 1, 2);
  if (s2 + 3 < expected.size() && expected[s2 + 3] != ' ') return expected;
  const std::string year = render("yyyy", value);
  if (year.size() != 4 || year.substr(2) != yy) return expected;
  return expected.substr(0, s2 + 1) + year + expected.substr(s2 + 3);
}

TEST_F(NumfmtConformance, ImpliedBuiltins) {
  Tally tally{"implied.json"};
  for (const json& row : load("implied.json")) {
    const double v = row[0].get<double>();
    // Rows are [value, [[id, text]...]] or [value, id, text].
    const json cases = row.size() == 3 ? json::array({json::array({row[1], row[2]})}) : row[1];
    for (const json& c : cases) {
      const int id = c[0].get<int>();
      std::string expected = c[1].get<std::string>();
      if (id == 14 || id == 22) expected = four_digit_year(expected, v);
      const std::string fmt(sheets::numfmt::builtin_format(id));
      ASSERT_FALSE(fmt.empty()) << "no built-in format " << id;
      check(tally, fmt, row[0].dump(), expected, render(fmt, v));
    }
  }
}

void check_table(const fs::path& file, const char* name) {
  Tally tally{name};
  auto lines = lines_of(read_file(file));
  ASSERT_FALSE(lines.empty());
  const auto formats = split(lines[0], '\t');
  for (std::size_t r = 1; r < lines.size(); ++r) {
    const auto cells = split(lines[r], '\t');
    double v = 0;
    auto res = std::from_chars(cells[0].data(), cells[0].data() + cells[0].size(), v);
    ASSERT_EQ(res.ec, std::errc()) << "bad value " << cells[0];
    for (std::size_t c = 1; c < cells.size() && c < formats.size(); ++c) {
      if (!cells[c].empty() && cells[c][0] == '|') {  // marked in the table itself
        ++tally.skipped;
        continue;
      }
      check(tally, formats[c], cells[0], cells[c], render(formats[c], v));
    }
  }
}

TEST_F(NumfmtConformance, ThousandsAndScaling) { check_table(kFixtures / "comma.tsv", "comma.tsv"); }

TEST_F(NumfmtConformance, Scientific) { check_table(kFixtures / "exp.tsv", "exp.tsv"); }

TEST_F(NumfmtConformance, Fractions) {
  Tally tally{"fraction.json"};
  for (const json& c : load("fraction.json")) {
    const std::string fmt = c[1].get<std::string>();
    check(tally, fmt, c[0].dump(), c[2].get<std::string>(), render(fmt, c[0].get<double>()));
  }
}

TEST_F(NumfmtConformance, Oddities) {
  Tally tally{"oddities.json"};
  for (const json& entry : load("oddities.json")) {
    const std::string fmt = entry[0].is_number()
                                ? std::string(sheets::numfmt::builtin_format(entry[0].get<int>()))
                                : entry[0].get<std::string>();
    auto f = Format::parse(fmt);
    for (std::size_t j = 1; j < entry.size(); ++j) {
      const json& c = entry[j];
      if (c.size() == 1) {  // the format itself must be rejected
        EXPECT_TRUE(f->has_error()) << "format [" << fmt << "] should not parse";
        if (f->has_error()) ++tally.passed;
        continue;
      }
      std::string actual;
      if (c[0].is_string())
        f->render_text(c[0].get<std::string>(), actual);
      else
        f->render(c[0].get<double>(), false, actual);
      check(tally, fmt, c[0].dump(), c[1].get<std::string>(), actual);
    }
  }
}

// Days from 1970-01-01 of a Gregorian date (month 1..12).
long days_from_civil(long y, long m, long d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

TEST_F(NumfmtConformance, Dates) {
  Tally tally{"date.json"};
  for (const json& c : load("date.json")) {
    // new Date(year, month from 0, day)
    const std::string expr = c[0].get<std::string>();
    ASSERT_EQ(0u, expr.rfind("new Date(", 0)) << expr;
    const auto parts = numbers_in(expr);
    ASSERT_EQ(3u, parts.size()) << expr;
    const long y = parts[0], mo = parts[1] + 1, d = parts[2];
    const bool d1904 = c[2].get<bool>();
    long serial = days_from_civil(y, mo, d);
    if (d1904)
      serial -= days_from_civil(1904, 1, 1);
    else if (serial >= days_from_civil(1900, 3, 1))
      serial -= days_from_civil(1899, 12, 30);  // past the 29 February 1900 the system counts
    else
      serial -= days_from_civil(1899, 12, 31);
    check(tally, "yyyy-mm-dd hh:mm:ss", expr + (d1904 ? " 1904" : ""), c[1].get<std::string>(),
          render("yyyy-mm-dd hh:mm:ss", static_cast<double>(serial), d1904));
  }
}

TEST_F(NumfmtConformance, IsDate) {
  Tally tally{"is_date.json"};
  for (const json& c : load("is_date.json")) {
    const std::string fmt = c[0].get<std::string>();
    auto text = [](bool b) { return std::string(b ? "true" : "false"); };
    check(tally, fmt, "-", text(c[1].get<bool>()), text(Format::parse(fmt)->is_date()));
  }
}

TEST_F(NumfmtConformance, ValidFormatsParse) {
  Tally tally{"valid.tsv"};
  for (const std::string& fmt : lines_of(read_file(kFixtures / "valid.tsv")))
    check(tally, fmt, "-", "parses", Format::parse(fmt)->has_error() ? "error" : "parses");
}

}  // namespace
