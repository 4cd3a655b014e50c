// Behaviour of the number-format renderer beyond the recorded tables: rounding, sign
// and section rules, errors, date limits and the two date systems.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "sheets/numfmt/numfmt.h"

namespace {

using sheets::numfmt::Format;
using sheets::numfmt::format_general;

std::string render(std::string_view fmt, double v, bool date1904 = false) {
  return Format::parse(fmt)->render(v, date1904);
}

std::string render_text(std::string_view fmt, std::string_view text) {
  std::string out;
  Format::parse(fmt)->render_text(text, out);
  return out;
}

const std::string kHashes(sheets::numfmt::kHashFillLength, '#');

struct Case {
  const char* format;
  double value;
  const char* expected;
};

void expect_cases(const std::vector<Case>& cases, bool date1904 = false) {
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, render(c.format, c.value, date1904))
        << "format [" << c.format << "] value " << c.value;
}

TEST(NumfmtGeneral, WidthAndSignificantDigits) {
  const std::vector<std::pair<double, const char*>> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {-12345678901.0, "-12345678901"},   // the sign does not count in the width
      {99999999999.0, "99999999999"},
      {99999999999.6, "1E+11"},            // rounds past eleven digits
      {0.1 + 0.2, "0.3"},                  // 15 significant digits first
      {2.0 / 3.0, "0.666666667"},
      {-2.0 / 3.0, "-0.666666667"},
      {1e-300, "1E-300"},
      {1.23456789e100, "1.2346E+100"},     // three exponent digits leave five significant
      {1.7976931348623157e308, "1.7977E+308"},
      {4.9406564584124654e-324, "4.9407E-324"},
  };
  for (const auto& [v, expected] : cases) {
    std::string out = "x";
    format_general(v, out);
    EXPECT_EQ(std::string("x") + expected, out) << v;  // appends
    EXPECT_EQ(expected, render("General", v)) << v;
  }
}

// Below 0.0001 the decimal form has room for fewer significant digits than the
// scientific one: it is taken only when it shows the value in full.
TEST(NumfmtGeneral, SmallValuesDecimalOnlyWhenExact) {
  const std::vector<std::pair<double, const char*>> cases = {
      {0.00001, "0.00001"},
      {-0.00001, "-0.00001"},
      {1.0000000000166667e-05, "1E-05"},  // ASIN(0.00001): both forms show one digit
      {-1.0000000000166667e-05, "-1E-05"},
      {1.000001e-07, "1E-07"},
      {1.2345e-05, "0.000012345"},        // fits in full
      {1.23456e-05, "1.23456E-05"},
      {0.00012345678, "0.000123457"},     // from 0.0001 on the decimal form has the room
      {9.9999999999e-05, "0.0001"},       // rounds up into that range
  };
  for (const auto& [v, expected] : cases) EXPECT_EQ(expected, render("General", v)) << v;
}

// Every value shows its 15 significant digits exactly as the correctly rounded
// decimal form has them, whatever path computes them.
TEST(NumfmtRounding, FifteenDigitsAreExact) {
  auto f = Format::parse("0.00000000000000E+000");
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    double v;
    if (i % 2 == 0) {
      std::uint64_t bits = (state >> 1) & 0x7FEFFFFFFFFFFFFFu;  // finite, positive
      std::memcpy(&v, &bits, sizeof v);
    } else {
      // Sixteen digits ending in 5: the value lies next to a tie of the 15-digit rounding.
      char text[48];
      std::snprintf(text, sizeof text, "%llu5e%d",
                    static_cast<unsigned long long>(100000000000000u + state % 900000000000000u),
                    static_cast<int>((state >> 58) % 40) - 30);
      std::from_chars(text, text + std::strlen(text), v);
    }
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    std::string exact(buf, r.ptr);  // d.ddddddddddddddde+XX
    std::string mant = exact.substr(0, 16);
    int e = std::atoi(exact.c_str() + 17);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%sE%c%03d", mant.c_str(), e < 0 ? '-' : '+',
                  e < 0 ? -e : e);
    ASSERT_EQ(expected, f->render(v)) << exact;
  }
}

TEST(NumfmtRounding, FifteenDigitsHalfAwayFromZero) {
  expect_cases({
      {"0.00", 1.005, "1.01"},    // 1.00499999999999989 in binary, 1.005 to 15 digits
      {"0.00", 2.675, "2.68"},
      {"0", 0.5, "1"},
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"0.00", -0.001, "-0.00"},  // the sign of the value shows even when it rounds to zero
      {"0", 0.49999999999999994, "1"},  // 0.500000000000000 to 15 digits
      {"#,##0", 999999.5, "1,000,000"},
      {"0.0", 9.96, "10.0"},
      {"0", 1e20, "100000000000000000000"},
      {"0.000", 123456789012.3456, "123456789012.346"},
  });
}

TEST(NumfmtDigits, PlaceholdersSeparatorsAndScaling) {
  expect_cases({
      {"#,##0,", 1234567, "1,235"},
      {"0.0,,", 987654321, "987.7"},
      {"#,##0.00", 1e15, "1,000,000,000,000,000.00"},
      {"0%", 0.125, "13%"},
      {"0.0%", -0.0005, "-0.1%"},
      {"???.???", 1.5, "  1.5  "},
      {"000.0#", 3.14159, "003.14"},
      {"#", 0, ""},
      {".00", 0.5, ".50"},
      {"\"a\"0\"b\"", 7, "a7b"},
      {"_(0_)", 5, " 5 "},
      {"*-0", 5, "5"},                   // fill shows nothing
      {"\\€0", 5, "€5"},                 // escapes take a whole character
      {"[$€-407]0", 5, "€5"},
      {"[$-409]0.0", 5, "5.0"},
      {"[Color12]0", 5, "5"},
      {"0 \"items\"", 1, "1 items"},
  });
}

TEST(NumfmtScientific, ExponentsAndCarries) {
  expect_cases({
      {"0.00E+00", 0, "0.00E+00"},
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E+00", 0.000123, "1.23E-04"},
      {"0.00E-00", 12345, "1.23E04"},
      {"0.00E+00", 9.999, "1.00E+01"},     // rounding carries into the exponent
      {"##0.0E+0", 999.96, "1.0E+3"},      // and into the next engineering step
      {"0.00E+00", 1e300, "1.00E+300"},
      {"0.00E+00", -1234, "-1.23E+03"},
      {"00.0E+0", 12345, "12.3E+3"},
      {"0.0e+0", 12345, "1.2E+4"},
  });
}

TEST(NumfmtFractions, WholeNumbersAndBlanks) {
  expect_cases({
      {"# ?/?", 0, "0    "},
      {"# ?/?", 5, "5    "},
      {"# ?/?", 0.5, " 1/2"},
      {"# ?/?", -2.75, "-2 3/4"},
      {"?/?", 0.5, "1/2"},
      {"0 ?/4", 2.9, "3    "},          // the fraction rounds up into the whole number
      {"# ?/?", 1e20, "100000000000000000000    "},
      {"?\?/??", 1e20, "100000000000000000000/1 "},
  });
}

TEST(NumfmtSections, SignAndSectionChoice) {
  expect_cases({
      {"0;(0);\"zero\"", 5, "5"},
      {"0;(0);\"zero\"", -5, "(5)"},
      {"0;(0);\"zero\"", 0, "zero"},
      {"0;(0)", 0, "0"},
      {"0.0;;", -3, ""},                // an empty section hides the value
      {";;;", 12, ""},
      {"\"x\"", -1, "-x"},
      {"0;General", -1.5, "-1.5"},      // General in the negative section keeps its sign
      {"[>=100]\"big\";[<0]\"neg\";\"small\"", 150, "big"},
      {"[>=100]\"big\";[<0]\"neg\";\"small\"", -3, "neg"},
      {"[>=100]\"big\";[<0]\"neg\";\"small\"", 50, "small"},
      {"[>=0]0;0", -4, "4"},            // the second section stands for the negatives
      {"[<0]0.0;0", -4, "4.0"},         // so does a section for the numbers below zero
      {"[<-1]0.0;0", -4, "-4.0"},       // other limits keep the sign
      {"[<4.5]\"low\";\"high\"", 4.4, "low"},
      {"[=0]?;0.0", 0, " "},
      {"[=0]?;0.0", 2, "2.0"},
      {"[>100]0", 5, "5"},              // no section matches: General
  });
}

TEST(NumfmtText, TextSection) {
  EXPECT_EQ("abc", render_text("0.00", "abc"));
  EXPECT_EQ("[abc]", render_text("0;0;0;\\[@\\]", "abc"));
  EXPECT_EQ("<abc>", render_text("0;\"<\"@\">\"", "abc"));
  EXPECT_EQ("", render_text(";;;", "abc"));
  EXPECT_EQ("", render_text("\"<\"@\">\"", ""));  // an empty text stays empty
  EXPECT_EQ("abcabc", render_text("@@", "abc"));
  // A number under a text-only format shows as General.
  EXPECT_EQ("1.5", render("@", 1.5));
  EXPECT_EQ("-1.5", render("\"x\"@", -1.5));
}

TEST(NumfmtErrors, UnusableCodesRenderLikeGeneral) {
  const std::vector<std::string> bad = {
      "\"open",        "0[Red",          "0;0;0;@;0",  "☃",     "hhh",   "ss.0sss",
      "[hhh]",         "0n",             "G3neral",    "[<x]0", "[>]0",
      std::string(sheets::numfmt::kMaxFormatLength + 1, '0'),
  };
  for (const std::string& code : bad) {
    auto f = Format::parse(code);
    EXPECT_TRUE(f->has_error()) << code;
    EXPECT_TRUE(f->is_general()) << code;
    EXPECT_EQ("-1234.5", f->render(-1234.5)) << code;
    std::string out;
    f->render_text("text", out);
    EXPECT_EQ("text", out) << code;
  }
  EXPECT_FALSE(Format::parse("")->has_error());
  EXPECT_EQ("12.5", render("", 12.5));
  EXPECT_EQ("#NUM!", render("0.00", std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("#NUM!", render("m/d/yyyy", std::numeric_limits<double>::infinity()));
}

TEST(NumfmtKinds, DateAndGeneralFlags) {
  EXPECT_TRUE(Format::parse("General")->is_general());
  EXPECT_TRUE(Format::parse("[Blue]GENERAL")->is_general());
  EXPECT_TRUE(Format::parse("@")->is_general());
  EXPECT_FALSE(Format::parse("0")->is_general());
  EXPECT_FALSE(Format::parse("General;-General")->is_general());
  EXPECT_TRUE(Format::parse("0;[h]:mm")->is_date());
  EXPECT_FALSE(Format::parse("0;0;0;yyyy")->is_date());  // only the text section
  EXPECT_FALSE(Format::parse("\"yyyy\"0")->is_date());
}

TEST(NumfmtBuiltins, UsEnglishTexts) {
  EXPECT_EQ("General", sheets::numfmt::builtin_format(0));
  EXPECT_EQ("m/d/yyyy", sheets::numfmt::builtin_format(14));
  EXPECT_EQ("m/d/yyyy h:mm", sheets::numfmt::builtin_format(22));
  EXPECT_EQ("[h]:mm:ss", sheets::numfmt::builtin_format(46));
  EXPECT_EQ("@", sheets::numfmt::builtin_format(49));
  for (int id : {-1, 23, 30, 50, 164, 100000}) EXPECT_EQ("", sheets::numfmt::builtin_format(id)) << id;
  for (int id = 0; id < 50; ++id) {
    auto code = sheets::numfmt::builtin_format(id);
    if (!code.empty()) {
      EXPECT_FALSE(Format::parse(code)->has_error()) << id;
    }
  }
}

TEST(NumfmtBuiltins, ParenthesisFormatsKeepABlankAfterPositives) {
  const std::vector<std::tuple<int, double, const char*>> cases = {
      {37, 1234.4, "1,234 "},   {37, -1234.4, "(1,234)"}, {38, 0, "0 "},
      {39, 123, "123.00 "},     {39, -1.2, "(1.20)"},     {39, 0, "0.00 "},
      {40, 1234.567, "1,234.57 "}, {40, -1234.567, "(1,234.57)"},
  };
  for (const auto& [id, v, expected] : cases)
    EXPECT_EQ(expected, render(sheets::numfmt::builtin_format(id), v)) << id << " " << v;
}

TEST(NumfmtDates, The1900SystemAndItsLeapDay) {
  expect_cases({
      {"m/d/yyyy", 0, "1/0/1900"},
      {"m/d/yyyy", 1, "1/1/1900"},
      {"m/d/yyyy", 59, "2/28/1900"},
      {"m/d/yyyy", 60, "2/29/1900"},
      {"m/d/yyyy", 61, "3/1/1900"},
      {"dddd", 1, "Sunday"},
      {"ddd", 61, "Thu"},
      {"dddd, mmmm d, yyyy", 44197, "Friday, January 1, 2021"},
      {"mmmmm-yy", 44197, "J-21"},
      {"yyyy-mm-dd", 2958465, "9999-12-31"},
      {"yyyy-mm-dd", 2958466, kHashes.c_str()},
      {"yyyy-mm-dd", -1, kHashes.c_str()},
      {"h:mm", -0.5, kHashes.c_str()},
      {"0;h:mm", -0.5, "12:00"},        // the negative section shows the size
  });
}

TEST(NumfmtDates, The1904System) {
  expect_cases(
      {
          {"m/d/yyyy", 0, "1/1/1904"},
          {"dddd", 0, "Friday"},
          {"m/d/yyyy", 42735, "1/1/2021"},
          {"yyyy-mm-dd", 2957003, "9999-12-31"},
          {"yyyy-mm-dd", 2957004, kHashes.c_str()},
          {"[h]:mm", -1.5, "-36:00"},  // negative times show with a sign here
          {"h:mm", -0.25, "-6:00"},
      },
      true);
}

// A section of elapsed counts alone shows a negative duration with a sign in the 1900
// system too (rounded to seconds, then counted towards zero); clock and date fields
// still cannot show a negative serial.
TEST(NumfmtDates, NegativeElapsedCountsIn1900System) {
  expect_cases({
      {"[HH]", -1.2, "-28"},
      {"[h]", -1.2, "-28"},
      {"[h]", 1.2, "28"},
      {"[h]", -123.456, "-2962"},
      {"[S]", -123.456, "-10666598"},
      {"[ss]", -1234.5678, "-106666658"},
      {"[m] \\m\\i\\n", -0.5, "-720 min"},
      {"[h]:mm", -1.2, kHashes.c_str()},
      {"[h]", -3000000, kHashes.c_str()},  // past the last day, as for positive values
  });
  // An elapsed count after a clock field is not a usable code: General.
  for (const char* code : {"HH[M]", "HH[MM]", "d [h]", "ss [h]"}) {
    auto f = Format::parse(code);
    EXPECT_TRUE(f->has_error()) << code;
    EXPECT_EQ("-1.2", f->render(-1.2)) << code;
  }
  EXPECT_FALSE(Format::parse("[h]:mm:ss")->has_error());
  EXPECT_FALSE(Format::parse("[mm]:ss.00")->has_error());
}

// The system long date and time tags stand for the US English system formats,
// whatever their section says after them.
TEST(NumfmtDates, SystemDateAndTimeTags) {
  expect_cases({
      {"[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", 1, "Sunday, January 1, 1900"},
      {"[$-F800]0.00", 44197.5, "Friday, January 1, 2021"},
      {"[$-f800]yy", 44197, "Friday, January 1, 2021"},
      {"[$-x-sysdate]dddd", 44197, "Friday, January 1, 2021"},
      {"[$-F400]h:mm:ss\\ AM/PM", 0, "12:00:00 AM"},
      {"[$-F400]hh:mm", 0.75, "6:00:00 PM"},
      {"[$-x-systime]h", 0.5 + 1.0 / 86400, "12:00:01 PM"},
      {"[$-F800]d;0", -3, "3"},                    // only its own section
      {"[<100][$-F800]d;0", 5, "Thursday, January 5, 1900"},
      {"[<100][$-F800]d;0", 500, "500"},           // its condition still applies
      {"[$-409]dddd", 1, "Sunday"},                // other locale tags change nothing
      {"[$-1F800]d", 1, "Sunday, January 1, 1900"},
      {"[$-F801]d", 1, "1"},
      {"[$-F800]\"on \"@", 1, "1"},           // a text section keeps its code
  });
  EXPECT_TRUE(Format::parse("[$-F800]0.00")->is_date());
  EXPECT_EQ("on x", render_text("[$-F800]\"on \"@", "x"));
}

TEST(NumfmtDates, TimeRoundingAndFields) {
  expect_cases({
      {"h:mm:ss", 0.99999999, "0:00:00"},                  // rounds into the next day
      {"m/d/yyyy h:mm:ss", 1.999999999, "1/2/1900 0:00:00"},
      {"h:mm", 0.5 + 59.6 / 86400, "12:01"},               // rounded to seconds, then split
      {"h:mm:ss.00", 0.5 + 1.234 / 86400, "12:00:01.23"},
      {"hh:mm AM/PM", 0, "12:00 AM"},
      {"h AM/PM", 0.5, "12 PM"},
      {"h a/p", 0.75, "6 p"},
      {"[h]:mm", 1.5, "36:00"},
      {"[mm]:ss", 0.5, "720:00"},
      {"[ss]", 1, "86400"},
      {"h:m", 0.5 + 300.0 / 86400, "12:5"},
      {"m:ss", 0.5 + 300.0 / 86400, "5:00"},
      {"yyyy-m", 44197, "2021-1"},                         // m after a year is the month
      {"b", 44197, "64"},                                  // Buddhist era year
  });
}

TEST(NumfmtThreads, SharedFormatRendersTheSame) {
  auto f = Format::parse("#,##0.00;[Red]-#,##0.00;\"zero\"");
  auto d = Format::parse("yyyy-mm-dd hh:mm:ss");
  std::vector<std::string> expected;
  for (int i = 0; i < 1000; ++i) expected.push_back(f->render(i * 1234.567 - 50000) + d->render(i * 37.77));
  std::vector<std::vector<std::string>> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) results[t].push_back(f->render(i * 1234.567 - 50000) + d->render(i * 37.77));
    });
  for (auto& th : threads) th.join();
  for (const auto& r : results) EXPECT_EQ(expected, r);
}

}  // namespace
