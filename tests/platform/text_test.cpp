// Text helpers: conversions, text files, lines and case-insensitive comparison.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

namespace text = platform::text;

TEST(Text, Utf16RoundTripIncludingSurrogatePairs) {
  const std::string s = "aé€𝄞";
  std::u16string u = text::utf8_to_utf16(s);
  EXPECT_EQ(u, (std::u16string{u'a', u'é', u'€', 0xD834, 0xDD1E}));
  EXPECT_EQ(text::utf16_to_utf8(u), s);
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(text::utf8_to_utf32("a\xFF" "b"), (std::u32string{U'a', 0xFFFD, U'b'}));
  EXPECT_EQ(text::utf8_to_utf32("\xC0\xAF"), (std::u32string{0xFFFD, 0xFFFD})) << "overlong form";
  EXPECT_EQ(text::utf8_to_utf32("\xE2\x82"), (std::u32string{0xFFFD, 0xFFFD})) << "cut short";
  EXPECT_EQ(text::utf16_to_utf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "lone surrogate";
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::string expected;
};

class DecodeTextFileTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTextFileTest, ByteOrderMarkSelectsTheEncoding) {
  EXPECT_EQ(text::decode_text_file(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTextFileTest,
    ::testing::Values(DecodeCase{"plain", "A=\xC3\xA9", "A=\xC3\xA9"},
                      DecodeCase{"utf8_bom", "\xEF\xBB\xBF" "A=1", "A=1"},
                      DecodeCase{"utf16le", std::string("\xFF\xFE" "A\0=\0\xE9\0", 8), "A=\xC3\xA9"},
                      DecodeCase{"utf16be", std::string("\xFE\xFF\0A\0=\0\xE9", 8), "A=\xC3\xA9"},
                      DecodeCase{"utf16le_odd_byte", std::string("\xFF\xFE" "A\0B", 5), "A"},
                      DecodeCase{"empty", "", ""}, DecodeCase{"bom_only", "\xFF\xFE", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Text, SplitLinesAtEveryBreakKind) {
  EXPECT_EQ(text::split_lines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(text::split_lines("a\r\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(text::split_lines("a\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(text::split_lines("\n"), (std::vector<std::string>{""}));
  EXPECT_TRUE(text::split_lines("").empty());
  EXPECT_EQ(text::join_lines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(text::join_lines({}), "");
}

TEST(Text, CaseInsensitiveComparisonBeyondAscii) {
  EXPECT_TRUE(text::equals_nocase("Source", "SOURCE"));
  EXPECT_TRUE(text::equals_nocase("État", "éTAT"));
  EXPECT_TRUE(text::equals_nocase("ΣΟΦΙΑ", "σοφια"));
  EXPECT_FALSE(text::equals_nocase("Source", "Source "));
  EXPECT_FALSE(text::equals_nocase("a", "b"));
  EXPECT_LT(text::compare_nocase("abc", "ABD"), 0);
  EXPECT_GT(text::compare_nocase("abcd", "ABC"), 0);
  EXPECT_TRUE(text::starts_with_nocase("SOURCE=x", "source"));
  EXPECT_FALSE(text::starts_with_nocase("SO", "source"));
}

TEST(Text, BytesThatAreNoUtf8CompareAsBytes) {
  // Two Latin-1 names of the same length ("caf\xE9" and "caf\xE8") are different.
  EXPECT_FALSE(text::equals_nocase("/p/caf\xE9", "/p/caf\xE8"));
  EXPECT_TRUE(text::equals_nocase("/P/CAF\xE9", "/p/caf\xE9"));
  EXPECT_NE(text::compare_nocase("\xFF", "\xFE"), 0);
  EXPECT_FALSE(text::starts_with_nocase("\xFF" "abc", "\xFE"));
  EXPECT_FALSE(text::equals_nocase("\xEF\xBF\xBD", "\xFF")) << "a real U+FFFD is not a stray byte";
}

TEST(Text, ReplaceAllAndContains) {
  EXPECT_EQ(text::replace_all("a,b;c,", ",", ";"), "a;b;c;");
  EXPECT_EQ(text::replace_all("a;b", ";", "\r\n"), "a\r\nb");
  EXPECT_EQ(text::replace_all("aaa", "", "x"), "aaa");
  EXPECT_TRUE(text::contains("/in/http-files/", "http"));
  EXPECT_FALSE(text::contains("/in/HTTP/", "http"));
}

}  // namespace
