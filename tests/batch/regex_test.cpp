// The regular-expression facade: search and replacement results, positions in
// UTF-8 bytes, case pairs beyond ASCII, error numbers and texts, and limits.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "batch/VBScriptRegex.h"

namespace {

constexpr auto kNone = TRegexOptions::None;
constexpr auto kIgnoreCase = TRegexOptions::IgnoreCase;

TEST(RegexTable, HasFortyThreeUniqueNumbersAndTheRegexTexts) {
  std::set<std::int32_t> codes;
  for (const auto& rec : VBScriptErrors) {
    codes.insert(rec.Code);
    EXPECT_FALSE(rec.Message.empty());
  }
  EXPECT_EQ(codes.size(), 43u);
  EXPECT_EQ(VBScriptErrors.front().Code, 429);
  EXPECT_EQ(VBScriptErrors.back().Code, 450);
  EXPECT_EQ(FindErrorMessage(5017), "Syntax error in regular expression");
  EXPECT_EQ(FindErrorMessage(5018), "Unexpected quantifier");
  EXPECT_EQ(FindErrorMessage(5019), "Expected ']' in regular expression");
  EXPECT_EQ(FindErrorMessage(5020), "Expected ')' in regular expression");
  EXPECT_EQ(FindErrorMessage(5021), "Invalid range in character set");
  EXPECT_EQ(FindErrorMessage(28), "Out of stack space");
  EXPECT_EQ(FindErrorMessage(4242), "");
}

TEST(RegexException, TableTextWinsByLowSixteenBitsElseOwnText) {
  ERegexException known(static_cast<std::int32_t>(0x800A1399u), "the engine's own words");
  EXPECT_STREQ(known.what(), "Syntax error in regular expression");
  EXPECT_EQ(known.ErrorCode, static_cast<std::int32_t>(0x800A1399u));

  ERegexException other(static_cast<std::int32_t>(0x80041234u), "the engine's own words");
  EXPECT_STREQ(other.what(), "the engine's own words");
  EXPECT_EQ(other.ErrorCode, static_cast<std::int32_t>(0x80041234u));

  // Only the low 16 bits select the row, whatever the facility.
  ERegexException foreign(static_cast<std::int32_t>(0x80071399u), "x");
  EXPECT_STREQ(foreign.what(), "Syntax error in regular expression");
}

TEST(RegexReplace, FirstMatchOnlyVersusEveryMatch) {
  EXPECT_EQ(Regex::Replace("^file:/*", "file:///C:/x.xls", ""), "C:/x.xls");
  EXPECT_EQ(Regex::Replace("^file:/*", "C:/x.xls", ""), "C:/x.xls");
  EXPECT_EQ(Regex::Replace("a", "banana", "o"), "bonana");
  EXPECT_EQ(Regex::Compile("a", kNone)->ReplaceAll("banana", "o"), "bonono");
  EXPECT_EQ(Regex::Compile("a", kNone)->Replace("banana", "o"), "bonana");
  EXPECT_EQ(Regex::Replace("x", "banana", "o"), "banana");
  // Case is respected without the flag.
  EXPECT_EQ(Regex::Replace("^file:/*", "FILE:///x", ""), "FILE:///x");
}

struct ReplacementCase {
  const char* Pattern;
  const char* Input;
  const char* Replacement;
  const char* Expected;
};

class RegexReplacementPatterns : public ::testing::TestWithParam<ReplacementCase> {};

TEST_P(RegexReplacementPatterns, FollowTheDialect) {
  const auto& c = GetParam();
  EXPECT_EQ(Regex::Compile(c.Pattern, kNone)->ReplaceAll(c.Input, c.Replacement), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexReplacementPatterns,
    ::testing::Values(ReplacementCase{"(\\w+)@(\\w+)", "ann@host", "$2 at $1", "host at ann"},
                      ReplacementCase{"b", "abc", "[$&]", "a[b]c"},
                      ReplacementCase{"b", "abc", "[$`]", "a[a]c"},
                      ReplacementCase{"b", "abc", "[$']", "a[c]c"},
                      ReplacementCase{"b", "abc", "$$", "a$c"},
                      ReplacementCase{"b", "abc", "$0$9$", "a$0$9$c"},        // no such groups: literal
                      ReplacementCase{"(b)", "abc", "$10", "ab0c"},            // $1 then "0"
                      ReplacementCase{"(a)|(z)", "ab", "[$2]", "[]b"},         // a group that took no part
                      ReplacementCase{"x*", "ab", "-", "-a-b-"},               // empty matches
                      ReplacementCase{"é", "café", "e", "cafe"},
                      ReplacementCase{"^", "a\nb", "> ", "> a\nb"}));

TEST(RegexIsMatch, IgnoreCaseFlagAndUnanchoredStart) {
  EXPECT_TRUE(Regex::IsMatch(".*\\.xls.?$", kIgnoreCase, "C:\\D\\A.XLSX"));
  EXPECT_FALSE(Regex::IsMatch(".*\\.xls.?$", kNone, "C:\\D\\A.XLSX"));
  EXPECT_TRUE(Regex::IsMatch("2020", kNone, "/data/2020/book.xls"));
  EXPECT_FALSE(Regex::IsMatch("^2020", kNone, "/data/2020/book.xls"));
}

TEST(RegexIsMatch, IgnoreCasePairsLettersBeyondAscii) {
  EXPECT_TRUE(Regex::IsMatch("état", kIgnoreCase, "/data/ÉTAT.xls"));
  EXPECT_TRUE(Regex::IsMatch("ÄÖÜ", kIgnoreCase, "äöü"));
  EXPECT_TRUE(Regex::IsMatch("[é]", kIgnoreCase, "É"));
  EXPECT_FALSE(Regex::IsMatch("état", kNone, "ÉTAT"));
}

TEST(RegexIsMatch, DotIsOneCodePointNotOneByte) {
  EXPECT_TRUE(Regex::IsMatch("^caf.$", kNone, "café"));
  EXPECT_TRUE(Regex::IsMatch("^.$", kNone, "€"));
  EXPECT_FALSE(Regex::IsMatch("^..$", kNone, "€"));
}

TEST(RegexIsMatch, MultilineMovesTheAnchorsToLineEnds) {
  const std::string text = "one\ntwo";
  EXPECT_FALSE(Regex::IsMatch("^two$", kNone, text));
  EXPECT_TRUE(Regex::IsMatch("^two$", TRegexOptions::Multiline, text));
  EXPECT_TRUE(Regex::IsMatch("^one$", TRegexOptions::Multiline, text));
  auto r = Regex::Compile("x", kIgnoreCase | TRegexOptions::Multiline);
  EXPECT_TRUE(r->IgnoreCase());
  EXPECT_TRUE(r->Multiline());
  EXPECT_EQ(r->Pattern(), "x");
  EXPECT_FALSE(Regex::Compile("x", kNone)->IgnoreCase());
}

TEST(RegexMatches, FirstAndAllWithPositions) {
  auto r = Regex::Compile("an", kNone);
  auto first = r->MatchFirst("banana");
  ASSERT_EQ(first->Count(), 1);
  EXPECT_EQ(first->Item(0)->FirstIndex(), 1);
  EXPECT_EQ(first->Item(0)->Length(), 2);
  EXPECT_EQ(first->Item(0)->Value(), "an");

  auto all = r->MatchAll("banana");
  ASSERT_EQ(all->Count(), 2);
  EXPECT_EQ(all->Item(1)->FirstIndex(), 3);

  EXPECT_EQ(r->MatchFirst("xyz")->Count(), 0);
  EXPECT_EQ(r->MatchAll("xyz")->Count(), 0);
}

TEST(RegexMatches, PositionsAreUtf8BytesOfTheInput) {
  auto all = Regex::Compile("b.", kNone)->MatchAll("äb€xbé");
  ASSERT_EQ(all->Count(), 2);
  EXPECT_EQ(all->Item(0)->FirstIndex(), 2);  // "ä" is two bytes
  EXPECT_EQ(all->Item(0)->Length(), 4);      // "b€": 1 + 3 bytes
  EXPECT_EQ(all->Item(0)->Value(), "b€");
  EXPECT_EQ(all->Item(1)->FirstIndex(), 7);
  EXPECT_EQ(all->Item(1)->Value(), "bé");
}

TEST(RegexMatches, InvalidUtf8BytesAreKeptAndCountOneEach) {
  const std::string input = "a\xff" "b\xc3";
  auto any = Regex::Compile("a.b", kNone)->MatchFirst(input);
  ASSERT_EQ(any->Count(), 1);
  EXPECT_EQ(any->Item(0)->Value(), "a\xff" "b");
  EXPECT_EQ(Regex::Compile("b", kNone)->ReplaceAll(input, "B"), "a\xff" "B\xc3");
}

TEST(RegexMatches, SubMatchesAndBadIndexes) {
  auto all = Regex::Compile("(\\d+)-(x)?", kNone)->MatchAll("12- 7-x");
  ASSERT_EQ(all->Count(), 2);
  auto g0 = all->Item(0)->SubMatches();
  ASSERT_EQ(g0->Count(), 2);
  EXPECT_EQ(g0->Item(0), "12");
  EXPECT_TRUE(g0->Matched(0));
  EXPECT_EQ(g0->Item(1), "");
  EXPECT_FALSE(g0->Matched(1));
  EXPECT_EQ(all->Item(1)->SubMatches()->Item(1), "x");

  try {
    all->Item(2);
    FAIL() << "no error for a bad match index";
  } catch (const ERegexException& e) {
    EXPECT_EQ(e.ErrorCode, kVBScriptFacility + 9);
    EXPECT_STREQ(e.what(), "Subscript out of range");
  }
  EXPECT_THROW(g0->Item(-1), ERegexException);
  EXPECT_THROW(g0->Item(2), ERegexException);
}

TEST(RegexMatches, ResultsOutliveTheExpression) {
  std::shared_ptr<IRegexMatch> m;
  {
    auto r = Regex::Compile("n(a)", kNone);
    m = r->MatchAll(std::string("banana"))->Item(1);
  }
  EXPECT_EQ(m->Value(), "na");
  EXPECT_EQ(m->FirstIndex(), 4);
  EXPECT_EQ(m->SubMatches()->Item(0), "a");
}

struct BadPattern {
  const char* Pattern;
  std::int32_t Number;
  const char* Text;
};

class RegexBadPatterns : public ::testing::TestWithParam<BadPattern> {};

TEST_P(RegexBadPatterns, FailWhenUsedWithTheTableNumberAndText) {
  const auto& c = GetParam();
  // Compiling a bad pattern does not fail; every use does.
  auto r = Regex::Compile(c.Pattern, kNone);
  EXPECT_EQ(r->Pattern(), c.Pattern);
  auto expect = [&](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no error for " << c.Pattern;
    } catch (const ERegexException& e) {
      EXPECT_EQ(e.ErrorCode, kVBScriptFacility + c.Number) << c.Pattern;
      EXPECT_STREQ(e.what(), c.Text) << c.Pattern;
    }
  };
  expect([&] { r->IsMatch("abc"); });
  expect([&] { r->MatchFirst("abc"); });
  expect([&] { r->MatchAll("abc"); });
  expect([&] { r->Replace("abc", "x"); });
  expect([&] { r->ReplaceAll("abc", "x"); });
  expect([&] { Regex::IsMatch(c.Pattern, kIgnoreCase, "abc"); });
  expect([&] { Regex::Replace(c.Pattern, "abc", "x"); });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexBadPatterns,
    ::testing::Values(BadPattern{"(", 5020, "Expected ')' in regular expression"},
                      BadPattern{"(a(b)", 5020, "Expected ')' in regular expression"},
                      BadPattern{"[abc", 5019, "Expected ']' in regular expression"},
                      BadPattern{"[z-a]", 5021, "Invalid range in character set"},
                      BadPattern{"a)", 5020, "Expected ')' in regular expression"},
                      BadPattern{"*a", 5018, "Unexpected quantifier"},
                      BadPattern{"+", 5018, "Unexpected quantifier"},
                      BadPattern{"a**", 5018, "Unexpected quantifier"},
                      BadPattern{"a|?", 5018, "Unexpected quantifier"},
                      BadPattern{"(?a)", 5018, "Unexpected quantifier"},
                      BadPattern{"^*", 5018, "Unexpected quantifier"},
                      BadPattern{"a{2}{3}", 5018, "Unexpected quantifier"},
                      BadPattern{"[a\\]", 5019, "Expected ']' in regular expression"},
                      BadPattern{"\\", 5017, "Syntax error in regular expression"}));

TEST(RegexIsMatch, BracesThatAreNoQuantifierAreLiteral) {
  EXPECT_TRUE(Regex::IsMatch("^a{$", kNone, "a{"));
  EXPECT_TRUE(Regex::IsMatch("^{x}$", kNone, "{x}"));
  EXPECT_TRUE(Regex::IsMatch("^a{,2}$", kNone, "a{,2}"));
  EXPECT_TRUE(Regex::IsMatch("^a{2}$", kNone, "aa"));
  EXPECT_TRUE(Regex::IsMatch("^a{1,2}?b$", kNone, "ab"));
  EXPECT_TRUE(Regex::IsMatch("^(?:ab)+(?=c)", kNone, "ababc"));
  EXPECT_TRUE(Regex::IsMatch("^[\\]]+$", kNone, "]]"));
  EXPECT_TRUE(Regex::IsMatch("^a*?b+?c??$", kNone, "abc"));
}

TEST(RegexErrorCode, IsTheScriptingFacilityPlusTheNumber) {
  try {
    Regex::IsMatch("(", kNone, "x");
    FAIL();
  } catch (const ERegexException& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.ErrorCode), 0x800A139Cu);
  }
}

TEST(RegexLimits, InputsBeyondTheLimitFailInsteadOfCrashing) {
  const std::string longest(kRegexMaxInputLength, 'a');
  const std::string tooLong(kRegexMaxInputLength + 1, 'a');
  // The longest allowed input is handled (on the deep stack) with the patterns
  // that recurse most per character.
  EXPECT_TRUE(Regex::IsMatch("(a|b)*$", kNone, longest));
  // The path-like worst case of the matcher stays within the step limit.
  EXPECT_TRUE(Regex::IsMatch(".*\\.xls.?$", kIgnoreCase, std::string(kRegexMaxInputLength - 5, 'a') + ".XLSX"));
  EXPECT_FALSE(Regex::IsMatch(".*\\.xls.?$", kIgnoreCase, longest));
  EXPECT_EQ(Regex::Compile("a", kNone)->MatchAll(longest)->Count(), static_cast<std::int32_t>(longest.size()));
  try {
    Regex::IsMatch("a", kNone, tooLong);
    FAIL();
  } catch (const ERegexException& e) {
    EXPECT_EQ(e.ErrorCode, kVBScriptFacility + 14);
    EXPECT_STREQ(e.what(), "Out of string space");
  }
  EXPECT_THROW(Regex::Replace("a", tooLong, ""), ERegexException);
  EXPECT_THROW(Regex::IsMatch(std::string(kRegexMaxPatternLength + 1, 'a'), kNone, "a"), ERegexException);
}

TEST(RegexLimits, DeeplyNestedPatternFailsOrMatchesWithoutCrashing) {
  const std::string nested = std::string(2000, '(') + "a" + std::string(2000, ')');
  try {
    EXPECT_TRUE(Regex::IsMatch(nested, kNone, "xa"));
  } catch (const ERegexException& e) {
    SUCCEED() << e.what();
  }
}

TEST(RegexLimits, BacktrackingWithoutEndFailsInsteadOfHanging) {
  // Exponential in the length of the text: far beyond the step limit.
  const std::string text = std::string(40, 'a');
  try {
    Regex::IsMatch("^(a*)*b$", kNone, text);
    FAIL() << "the search did not stop";
  } catch (const ERegexException& e) {
    EXPECT_EQ(e.ErrorCode, kVBScriptFacility + 17);
    EXPECT_STREQ(e.what(), "Can't perform requested operation");
  }
  // The same pattern on a text that it matches at once is fine.
  EXPECT_TRUE(Regex::IsMatch("^(a*)*b$", kNone, "aab"));
}

TEST(RegexThreads, IndependentExpressionsOnSeveralThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string name = "/d/book" + std::to_string(t * 100 + i) + ".XLSX";
        if (Regex::IsMatch(".*\\.xls.?$", kIgnoreCase, name)) ++good;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 200);
}

}  // namespace
