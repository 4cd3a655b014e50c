// Value rules and the option list shared by the project, the store and the options text.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/voProject.h"

namespace {

struct IntCase {
  const char* value;
  std::int32_t expected;  // with the default 77
};

class StrToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ReadsWholeNumbers) {
  EXPECT_EQ(voStrToInt(GetParam().value, 77), GetParam().expected) << "value \"" << GetParam().value << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToIntTest,
    ::testing::Values(IntCase{"12", 12}, IntCase{"-5", -5}, IntCase{"+7", 7}, IntCase{"  42", 42},
                      IntCase{"\t3", 3}, IntCase{"0", 0}, IntCase{"$1F", 31}, IntCase{"x1f", 31},
                      IntCase{"X10", 16}, IntCase{"0x10", 16}, IntCase{"0X1a", 26}, IntCase{"-$10", -16},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"2147483647", 2147483647},
                      IntCase{"-2147483648", INT32_MIN},
                      // unreadable: the default
                      IntCase{"", 77}, IntCase{" ", 77}, IntCase{"12 ", 77}, IntCase{"1.5", 77},
                      IntCase{"abc", 77}, IntCase{"$", 77}, IntCase{"0x", 77}, IntCase{"-", 77},
                      IntCase{"2147483648", 77}, IntCase{"-2147483649", 77}, IntCase{"$100000000", 77},
                      IntCase{"$1G", 77}, IntCase{"True", 77}, IntCase{"1 2", 77}));

struct BoolCase {
  const char* value;
  int with_false;  // result with default false
  int with_true;   // result with default true
};

class StrToBoolTest : public ::testing::TestWithParam<BoolCase> {};

TEST_P(StrToBoolTest, ReadsBooleans) {
  const auto& c = GetParam();
  EXPECT_EQ(voStrToBool(c.value, false), c.with_false != 0) << "value \"" << c.value << "\"";
  EXPECT_EQ(voStrToBool(c.value, true), c.with_true != 0) << "value \"" << c.value << "\"";
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToBoolTest,
                         ::testing::Values(BoolCase{"1", 1, 1}, BoolCase{"0", 0, 0}, BoolCase{"-1", 1, 1},
                                           BoolCase{"5", 1, 1}, BoolCase{"$0", 0, 0}, BoolCase{"0x1", 1, 1},
                                           BoolCase{"0.0", 0, 0}, BoolCase{"0.5", 1, 1},
                                           BoolCase{"True", 1, 1}, BoolCase{"TRUE", 1, 1},
                                           BoolCase{"false", 0, 0}, BoolCase{"FaLsE", 0, 0},
                                           // anything else gives the default
                                           BoolCase{"", 0, 1}, BoolCase{"yes", 0, 1}, BoolCase{"no", 0, 1},
                                           BoolCase{"skip", 0, 1}, BoolCase{" True", 0, 1},
                                           BoolCase{"True ", 0, 1}, BoolCase{"on", 0, 1}));

TEST(OptionList, FirstMatchingLineWinsForReadingAndWriting) {
  TvoOptionList l("Key=first\r\nKEY=second\r\n");
  EXPECT_EQ(l.GetValue("key"), "first");
  l.SetValue("kEy", "new");
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"kEy=new", "KEY=second"}));
  l.SetValue("Key", "");
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"KEY=second"}));
  EXPECT_EQ(l.GetValue("key"), "second");
}

TEST(OptionList, NamesAreComparedWithoutCaseButNotTrimmed) {
  TvoOptionList l("source=/in/*.xls?\nTarget =/out/\n");
  EXPECT_EQ(l.GetValue("Source"), "/in/*.xls?");
  EXPECT_EQ(l.GetValue("Target"), "");
  EXPECT_EQ(l.GetValue("Target "), "/out/");
  // Writing a blank-suffixed key does not touch "Target " unless spelled alike.
  l.SetValue("Target", "/t/");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.Line(2), "Target=/t/");
}

TEST(OptionList, CaseBeyondAsciiFollowsTheLocale) {
  TvoOptionList l("ÉTAT=1\n");
  EXPECT_EQ(l.GetValue("état"), "1");
}

TEST(OptionList, ValueKeepsEverythingAfterTheFirstEquals) {
  TvoOptionList l("RegExt=a=b==c\n");
  EXPECT_EQ(l.GetValue("RegExt"), "a=b==c");
  EXPECT_EQ(TvoOptionList::NameOf("A=B=C"), "A");
  EXPECT_EQ(TvoOptionList::ValueOf("A=B=C"), "B=C");
}

TEST(OptionList, LinesWithoutEqualsStayAndNeverMatch) {
  TvoOptionList l("; a note\nSource\nSource=/x\n");
  EXPECT_EQ(l.GetValue("Source"), "/x");
  EXPECT_EQ(l.GetValue("; a note"), "");
  l.SetValue("Source", "/y");
  EXPECT_EQ(l.GetText(), "; a note\r\nSource\r\nSource=/y\r\n");
}

TEST(OptionList, WritingAppendsAMissingKeyAndDeletingAMissingKeyIsHarmless) {
  TvoOptionList l;
  l.SetValue("A", "1");
  l.SetValue("B", "2");
  l.SetValue("Missing", "");
  EXPECT_EQ(l.GetText(), "A=1\r\nB=2\r\n");
}

TEST(OptionList, WholeTextSplitsAtEveryLineBreakKind) {
  TvoOptionList l;
  l.SetText("A=1\r\nB=2\rC=3\nD=4\r\n");
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"A=1", "B=2", "C=3", "D=4"}));
  EXPECT_EQ(l.GetText(), "A=1\r\nB=2\r\nC=3\r\nD=4\r\n");
  l.SetText("A=1\n\nB=2");  // an empty line in the middle stays
  EXPECT_EQ(l.Count(), 3);
  l.SetText("");
  EXPECT_TRUE(l.Empty());
  EXPECT_EQ(l.GetText(), "");
}

TEST(SyncOptionList, ReadersOnOtherThreadsSeeWholeValuesWhileTheMainThreadWrites) {
  TvoSyncOptionList l;
  l.SetText("Source=/in/*.xls?\r\nThreadsCount=2\r\n");
  std::vector<std::thread> readers;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&l, &bad, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string s = l.GetValue("Source");
        if (s != "/in/*.xls?" && s != "/other/*.xlsx") ++bad[static_cast<std::size_t>(t)];
        if (l.GetInt("ThreadsCount", -1) < 0) ++bad[static_cast<std::size_t>(t)];
      }
    });
  }
  for (int i = 0; i < 500; ++i) {
    l.SetValue("Source", i % 2 ? "/in/*.xls?" : "/other/*.xlsx");
    l.SetText(l.GetText());
  }
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

}  // namespace
