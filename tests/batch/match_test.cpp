// File-name matching: wildcard masks turned into expressions, the acceptance test
// of a batch (mask, then RegExt), the matcher's failure rule, and the listing
// pattern of the folder search.
#include <gtest/gtest.h>

#include <string>

#include "batch/VBScriptRegex.h"
#include "batch/voBatch.h"
#include "batch/voMatch.h"

namespace {

struct MaskCase {
  const char* Mask;
  const char* Regex;
};

class WildcardToRegexCases : public ::testing::TestWithParam<MaskCase> {};

TEST_P(WildcardToRegexCases, EscapesInOrderAndAnchorsTheEnd) {
  EXPECT_EQ(WildcardToRegex(GetParam().Mask), GetParam().Regex);
}

INSTANTIATE_TEST_SUITE_P(Cases, WildcardToRegexCases,
                         ::testing::Values(MaskCase{"*.xls?", ".*\\.xls.?$"},
                                           MaskCase{"*.*", ".*\\..*$"},
                                           MaskCase{"", "$"},
                                           MaskCase{"report(1)?.xls", "report\\(1\\).?\\.xls$"},
                                           MaskCase{"a+b^c$d", "a\\+b\\^c\\$d$"},
                                           MaskCase{"[x]{2}", "\\[x\\]\\{2\\}$"},
                                           // Backslash and "|" keep their meaning.
                                           MaskCase{"a|b\\d", "a|b\\d$"},
                                           MaskCase{"a;b", "a;b$"}));

// A batch whose mask and RegExt are set by hand; the process-wide matcher is the
// regular-expression one for the duration of each test.
class AcceptsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Saved = Matcher;
    Matcher = &RegexMatcher;
  }
  void TearDown() override { Matcher = Saved; }

  bool Accepts(const std::string& mask, const std::string& regExt, const std::string& path) {
    auto batch = std::make_shared<TvoBatch>();
    batch->Mask = mask;
    batch->RegExt = regExt;
    return batch->Accepts(path);
  }

  TvoMatch RegexMatcher;
  TvoMatchBase* Saved = nullptr;
};

struct AcceptCase {
  const char* Mask;
  const char* RegExt;
  const char* Path;
  bool Accepted;
};

class AcceptsCases : public AcceptsTest, public ::testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptsCases, MaskThenRegExt) {
  const auto& c = GetParam();
  EXPECT_EQ(Accepts(c.Mask, c.RegExt, c.Path), c.Accepted)
      << "mask " << c.Mask << " RegExt " << c.RegExt << " path " << c.Path;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, AcceptsCases,
    ::testing::Values(AcceptCase{"*.xls?", "", "/d/a.xls", true},
                      AcceptCase{"*.xls?", "", "/d/a.XLSX", true},
                      AcceptCase{"*.xls?", "", "/d/a.xlsm", true},
                      AcceptCase{"*.xls?", "", "/d/a.xlsxx", false},
                      AcceptCase{"*.xls?", "", "/d/a.xls.bak", false},
                      AcceptCase{"*.xls?", "", "/d/axls", false},
                      AcceptCase{"a?.xls", "", "/d/a.xls", true},
                      AcceptCase{"a?.xls", "", "/d/ab.xls", true},
                      AcceptCase{"a?.xls", "", "/d/xa.xls", true},
                      AcceptCase{"a?.xls", "", "/d/abc.xls", false},
                      // The start is not anchored: text of the mask can lie in a folder name.
                      AcceptCase{"ab*.xls", "", "/ab/x.xls", true},
                      AcceptCase{"ab*.xls", "", "/d/cab.xls", true},
                      AcceptCase{"ab*.xls", "", "/d/x.xls", false},
                      AcceptCase{"", "", "http://host/book.xls", true},
                      AcceptCase{"", "", "/d/anything", true},
                      AcceptCase{"data[1].xls", "", "/d/data[1].xls", true},
                      AcceptCase{"data[1].xls", "", "/d/data1.xls", false},
                      AcceptCase{"*.xls?", "", "/d/ÉTÉ.XLS", true},
                      AcceptCase{"été*.xls", "", "/d/ÉTÉ 2020.XLS", true},
                      AcceptCase{"a;b", "", "/d/a;b", true}));

INSTANTIATE_TEST_SUITE_P(
    RegExt, AcceptsCases,
    ::testing::Values(AcceptCase{"*.xls?", "2020", "/d/2020/book.xls", true},
                      AcceptCase{"*.xls?", "2020", "/d/book2020.xlsx", true},
                      AcceptCase{"*.xls?", "2020", "/d/book2021.xlsx", false},
                      // RegExt narrows the mask, never replaces it.
                      AcceptCase{"*.xls?", "2020", "/d/book2020.csv", false},
                      // RegExt is an expression, not a mask.
                      AcceptCase{"*.xls?", "^/d/b.*k\\.", "/d/book.xls", true},
                      AcceptCase{"*.xls?", "BOOK", "/d/book.xls", true},
                      // An invalid RegExt accepts whatever the mask accepts.
                      AcceptCase{"*.xls?", "(", "/d/book.xls", true},
                      AcceptCase{"*.xls?", "(", "/d/book.csv", false}));

TEST_F(AcceptsTest, WithoutAMatcherEveryCandidateIsAccepted) {
  Matcher = nullptr;
  EXPECT_TRUE(Accepts("*.xls?", "2020", "/d/book.csv"));
  EXPECT_TRUE(Accepts("(", "(", ""));
}

TEST_F(AcceptsTest, TheBaseMatcherAcceptsEverything) {
  TvoMatchBase base;
  Matcher = &base;
  EXPECT_TRUE(Accepts("*.xls?", "2020", "/d/book.csv"));
  EXPECT_TRUE(base.Match("x", "("));
}

TEST_F(AcceptsTest, AnInvalidMaskExpressionAccepts) {
  // A backslash keeps its meaning, so "\1" refers to a group that does not
  // exist: the expression fails in the matcher, and a failure accepts.
  EXPECT_TRUE(Accepts("\\1", "", "/d/book.csv"));
}

TEST(TvoMatchTest, FailuresAcceptAndPatternsStayIndependent) {
  TvoMatch m;
  EXPECT_TRUE(m.Match("/d/a.xls", "("));
  EXPECT_TRUE(m.Match(std::string(kRegexMaxInputLength + 1, 'a'), "b"));  // input too long
  // Alternating between more patterns than are kept compiled gives the same answers.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 12; ++i) {
      const std::string p = "x" + std::to_string(i) + "$";
      EXPECT_TRUE(m.Match("/d/X" + std::to_string(i), p));
      EXPECT_FALSE(m.Match("/d/X" + std::to_string(i) + "y", p));
    }
  }
}

struct NameCase {
  const char* Mask;
  const char* Name;
  bool Matches;
};

class WildcardNameCases : public ::testing::TestWithParam<NameCase> {};

TEST_P(WildcardNameCases, WholeNameWithoutRegardToCase) {
  const auto& c = GetParam();
  EXPECT_EQ(WildcardMatchesName(c.Name, c.Mask), c.Matches) << c.Mask << " / " << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Cases, WildcardNameCases,
                         ::testing::Values(NameCase{"*.xls?", "a.xls", true},
                                           NameCase{"*.xls?", "A.XLSX", true},
                                           NameCase{"*.xls?", "a.xlsxx", false},
                                           NameCase{"*.xls?", "a.xls.bak", false},
                                           NameCase{"*.xls?", ".xls", true},
                                           NameCase{"a?.xls", "a.xls", true},
                                           NameCase{"a?.xls", "ab.xls", true},
                                           NameCase{"a?.xls", "abc.xls", false},
                                           // Both ends anchored, unlike the expression stage.
                                           NameCase{"a?.xls", "xa.xls", false},
                                           NameCase{"data", "data", true},
                                           NameCase{"data", "data2", false},
                                           NameCase{"*", "", true},
                                           NameCase{"", "", true},
                                           NameCase{"", "a", false},
                                           NameCase{"*.*", "noext", false},
                                           NameCase{"data[1].xls", "DATA[1].xls", true},
                                           NameCase{"été?.xls", "ÉTÉ1.XLS", true},
                                           NameCase{"**a**", "bab", true}));

}  // namespace
