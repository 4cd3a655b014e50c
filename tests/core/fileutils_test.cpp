// File times, whole-file text and the dialog functions.
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/voFileUtils.h"
#include "core_support.h"
#include "platform/error.h"
#include "platform/file.h"

namespace {

using coretest::FakeDialogs;
using coretest::ReadFile;
using coretest::WriteFile;

std::tm Tm(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return t;
}

struct PackCase {
  std::tm time;
  std::int32_t expected;
};

class PackDosTimeTest : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackDosTimeTest, PacksDateHighAndTimeLow) {
  EXPECT_EQ(TvoFileUtils::PackDosTime(GetParam().time), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackDosTimeTest,
    ::testing::Values(PackCase{Tm(1980, 1, 1, 0, 0, 0), 0x00210000},
                      // 2020-12-11 18:25:41: date (40<<9|12<<5|11), time (18<<11|25<<5|20)
                      PackCase{Tm(2020, 12, 11, 18, 25, 41), static_cast<std::int32_t>(0x518B9334u)},
                      PackCase{Tm(2107, 12, 31, 23, 59, 59), static_cast<std::int32_t>(0xFF9FBF7Du)},
                      PackCase{Tm(1979, 12, 31, 23, 59, 59), -1}, PackCase{Tm(2108, 1, 1, 0, 0, 0), -1}));

class FileUtilsTest : public coretest::ScratchTest {};

TEST_F(FileUtilsTest, FileDosTimeOfTheLastWriteInUtcAndLocalTime) {
  std::string f = Dir + "/a.xls";
  WriteFile(f, "x");
  std::tm utc = Tm(2021, 3, 4, 5, 6, 8);
  time_t secs = timegm(&utc);
  platform::file::Times t{};
  t.access.tv_sec = secs;
  t.modification.tv_sec = secs;
  ASSERT_TRUE(platform::file::set_times(f, t));
  EXPECT_EQ(TvoFileUtils::FileDosTime(f, false, true), TvoFileUtils::PackDosTime(utc));
  std::tm local{};
  localtime_r(&secs, &local);
  EXPECT_EQ(TvoFileUtils::FileDosTime(f, false, false), TvoFileUtils::PackDosTime(local));
}

TEST_F(FileUtilsTest, FileDosTimeIsMinusOneForMissingEntriesAndUnpackableTimes) {
  EXPECT_EQ(TvoFileUtils::FileDosTime(Dir + "/missing", false, true), -1);
  EXPECT_EQ(TvoFileUtils::FileDosTime(Dir + "/missing", true, true), -1);
  EXPECT_EQ(TvoFileUtils::FileDosTime("", true, true), -1);
  std::string f = Dir + "/old";
  WriteFile(f, "x");
  platform::file::Times t{};
  t.modification.tv_sec = 86400;  // 1970
  ASSERT_TRUE(platform::file::set_times(f, t));
  EXPECT_EQ(TvoFileUtils::FileDosTime(f, false, true), -1);
}

TEST_F(FileUtilsTest, CreationTimeOfAFolderIsRecentAndNeedsNoTrailingDelimiter) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::int32_t packed = TvoFileUtils::FileDosTime(Dir, true, true);
  ASSERT_NE(packed, -1);
  EXPECT_EQ(packed >> 25, utc.tm_year + 1900 - 1980) << "created just now";
  EXPECT_EQ(TvoFileUtils::FileDosTime(Dir + "/", true, true), packed);
}

TEST_F(FileUtilsTest, TextBeyondEightBitsSurvivesBothCharSizes) {
  const std::string text = "Zürich € 𝄞 日本\r\nline two";
  for (int size : {1, 2}) {
    std::string f = Dir + "/t" + std::to_string(size);
    TvoFileUtils::SaveText(f, text, false, size);
    EXPECT_EQ(TvoFileUtils::LoadText(f, size), text) << "CharSize " << size;
  }
  EXPECT_EQ(ReadFile(Dir + "/t1"), text);
}

TEST_F(FileUtilsTest, CharSizeTwoIsUtf16LittleEndianWithoutByteOrderMark) {
  std::string f = Dir + "/u";
  TvoFileUtils::SaveText(f, "A€", false, 2);
  EXPECT_EQ(ReadFile(f), std::string("A\0\xAC\x20", 4));
}

TEST_F(FileUtilsTest, AFiveByteFileReadAsUtf16GivesTwoCharacters) {
  std::string f = Dir + "/five";
  WriteFile(f, std::string("a\0b\0c", 5));
  EXPECT_EQ(TvoFileUtils::LoadText(f, 2), "ab");
}

TEST_F(FileUtilsTest, NoByteOrderMarkIsRemovedOnLoading) {
  std::string f = Dir + "/bom";
  WriteFile(f, "\xEF\xBB\xBFR=1");
  EXPECT_EQ(TvoFileUtils::LoadText(f, 1), "\xEF\xBB\xBFR=1");
}

TEST_F(FileUtilsTest, SaveTextTruncatesAppendsAndCreatesMissingFolders) {
  std::string f = Dir + "/a/b/c.txt";
  TvoFileUtils::SaveText(f, "", false, 1);
  EXPECT_TRUE(std::filesystem::exists(f));
  EXPECT_EQ(ReadFile(f), "");
  TvoFileUtils::SaveText(f, "one", false, 1);
  TvoFileUtils::SaveText(f, "two", true, 1);
  EXPECT_EQ(ReadFile(f), "onetwo");
  TvoFileUtils::SaveText(f, "", false, 1);
  EXPECT_EQ(ReadFile(f), "") << "an empty text empties the file";
}

TEST_F(FileUtilsTest, FailuresRaiseTheFileError) {
  std::string text;
  EXPECT_THROW(TvoFileUtils::LoadText(Dir + "/missing", 2, text), platform::FileError);
  EXPECT_THROW(TvoFileUtils::SaveText(Dir, "x", false, 1), platform::FileError);
  WriteFile(Dir + "/plain", "x");
  EXPECT_THROW(TvoFileUtils::SaveText(Dir + "/plain/sub/f", "x", false, 1), platform::FileError);
}

// ---------------------------------------------------------------------------
// Dialogs

TEST_F(FileUtilsTest, WithoutDialogsEveryDialogIsCancelled) {
  std::string name = "/in/*.xls?";
  EXPECT_EQ(BrowseFolder("/data"), "/data");
  EXPECT_EQ(BrowseFolder(""), "");
  EXPECT_FALSE(OpenFileDialog("All|*", name, false));
  EXPECT_FALSE(SaveFileDialog("All|*", ".log", name));
  EXPECT_EQ(name, "/in/*.xls?");
}

TEST_F(FileUtilsTest, BrowseFolderStartsAtStartAndKeepsItOnCancel) {
  FakeDialogs d;
  d.Folders.push_back(std::nullopt);
  d.Folders.push_back(std::string("/chosen"));
  EXPECT_EQ(BrowseFolder("/data"), "/data");
  EXPECT_EQ(LastBrowseFolder(), "/data");
  EXPECT_EQ(BrowseFolder("/other"), "/chosen");
  EXPECT_EQ(LastBrowseFolder(), "/other");
  d.Folders.push_back(std::nullopt);
  EXPECT_EQ(BrowseFolder(""), "");
  EXPECT_EQ(LastBrowseFolder(), "/other") << "an empty start is not remembered";
  voReleaseDialogs();
  EXPECT_EQ(LastBrowseFolder(), "");
}

TEST_F(FileUtilsTest, OpenFileDialogOffersTheMaskWithStarsAndItsFolder) {
  FakeDialogs d;
  std::string name = "/in/*.xls?";
  d.OpenAnswers.push_back(std::vector<std::string>{"/in/a.xls", "/in/b.xlsx"});
  ASSERT_TRUE(OpenFileDialog("Excel|*.xls", name, true));
  ASSERT_EQ(d.OpenSetups.size(), 1u);
  EXPECT_EQ(d.OpenSetups[0].StartName, "/in/*.xls*");
  EXPECT_EQ(d.OpenSetups[0].StartFolder, "/in/");
  EXPECT_EQ(d.OpenSetups[0].Filter, "Excel|*.xls");
  EXPECT_TRUE(d.OpenSetups[0].Multi);
  EXPECT_TRUE(d.OpenSetups[0].MustExist);
  EXPECT_EQ(name, "/in/a.xls\r\n/in/b.xlsx\r\n");

  d.OpenAnswers.push_back(std::nullopt);
  EXPECT_FALSE(OpenFileDialog("Excel|*.xls", name, false));
  EXPECT_EQ(name, "/in/a.xls\r\n/in/b.xlsx\r\n");
}

TEST_F(FileUtilsTest, SaveFileDialogAsksBeforeReplacingAndTakesTheChosenName) {
  FakeDialogs d;
  std::string name;
  d.SaveAnswers.push_back(std::string("/out/run.log"));
  ASSERT_TRUE(SaveFileDialog("Log File|*.log", ".log", name));
  EXPECT_EQ(name, "/out/run.log");
  EXPECT_EQ(d.SaveSetups[0].StartFolder, "");
  EXPECT_EQ(d.SaveSetups[0].DefaultExt, ".log");
  EXPECT_TRUE(d.SaveSetups[0].AskReplace);
}

}  // namespace
