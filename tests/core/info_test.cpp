// The settings store, run statistics, links and the handler of unhandled errors.
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/voFileUtils.h"
#include "core/voInfo.h"
#include "core_support.h"
#include "platform/file.h"

namespace {

using coretest::ReadFile;
using coretest::WriteFile;

class InfoTest : public coretest::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    coretest::SetProductConstants(Project);
    voProject = &Project;
  }
  void TearDown() override {
    voProject = nullptr;
    ScratchTest::TearDown();
  }
  std::string Store() const { return BinDir + "tabrix.ext"; }

  TvoProject Project;
};

TEST_F(InfoTest, FirstStartWritesVersionAndStartCounter) {
  TvoInfo info;
  EXPECT_EQ(info.StoreFileName(), Store());
  EXPECT_EQ(info.FStore.GetText(), "v=2\r\nR=1\r\n");
  EXPECT_EQ(ReadFile(Store()), "v=2\r\nR=1\r\n") << "written at once";
}

TEST_F(InfoTest, EveryStartCountsAndTheDestructorWritesTheStore) {
  { TvoInfo first; }
  {
    TvoInfo second;
    EXPECT_EQ(second.GetValue("R"), "2");
    second.FStore.SetValue("Z", "9");  // an in-memory change the destructor must keep
  }
  EXPECT_EQ(ReadFile(Store()), "v=2\r\nR=2\r\nZ=9\r\n");
}

TEST_F(InfoTest, AStoreWithoutStartCounterIsDiscarded) {
  WriteFile(Store(), "C=5\r\nA=40\r\n");
  TvoInfo info;
  EXPECT_EQ(info.FStore.GetText(), "v=2\r\nR=1\r\n");
  info.UpdateCounter("C", 0, 1);
  EXPECT_EQ(info.GetValue("C"), "1");
}

TEST_F(InfoTest, AnExistingStoreKeepsItsOrderAndGetsTheFormWritten) {
  WriteFile(Store(), "R=12\r\nv=1\r\nC=3\r\n");
  TvoInfo info;
  EXPECT_EQ(info.FStore.GetText(), "R=13\r\nv=2\r\nC=3\r\n");
}

TEST_F(InfoTest, AStoreThatCannotBeWrittenNeverStopsTheProgram) {
  std::filesystem::create_directories(Store());  // a folder where the file should be
  TvoInfo info;
  EXPECT_EQ(info.GetValue("R"), "1");
  EXPECT_FALSE(info.SaveStore());
  info.UpdateCounter("C", 0, 1);
  info.UpdateCounter("C", 0, 1);
  EXPECT_EQ(info.GetValue("C"), "2") << "counts stay in memory";
  info.AppException("boom");
  EXPECT_EQ(info.GetValue("E"), "1");
}

TEST_F(InfoTest, AFifoInPlaceOfTheStoreNeitherBlocksNorStopsTheProgram) {
  ASSERT_EQ(mkfifo(Store().c_str(), 0600), 0);
  TvoInfo info;  // would hang here if the FIFO were opened for reading
  info.UpdateCounter("C", 0, 1);  // or here, if it were opened for writing
  EXPECT_EQ(info.GetValue("R"), "1");
  EXPECT_EQ(info.GetValue("C"), "1");
  EXPECT_FALSE(info.SaveStore());
}

TEST_F(InfoTest, AProgramFolderThatCannotBeMadeNeverStopsTheProgram) {
  WriteFile(Dir + "/plain", "x");
  platform::path::set_program_file_for_testing(Dir + "/plain/bin/tabrix");
  auto info = std::make_unique<TvoInfo>();
  EXPECT_EQ(info->GetValue("R"), "1");
  EXPECT_EQ(info->FInstallId, -1) << "the folder does not exist";
  EXPECT_NO_THROW(info.reset());
}

TEST_F(InfoTest, SaveStoreClearsTheReadOnlyAttribute) {
  TvoInfo info;
  ASSERT_TRUE(platform::file::set_read_only(Store(), true));
  info.FStore.SetValue("C", "4");
  EXPECT_TRUE(info.SaveStore());
  EXPECT_FALSE(platform::file::is_read_only(Store()));
  EXPECT_EQ(ReadFile(Store()), "v=2\r\nR=1\r\nC=4\r\n");
}

TEST_F(InfoTest, UpdateCounterWritesOnlyOnChange) {
  TvoInfo info;
  info.UpdateCounter("W", 16, 1);
  EXPECT_EQ(info.GetValue("W"), "16");
  WriteFile(Store(), "marker");
  info.UpdateCounter("W", 16, 1);
  EXPECT_EQ(ReadFile(Store()), "marker") << "same value: nothing written";
  info.UpdateCounter("Z", 0, 0);
  EXPECT_EQ(info.GetValue("Z"), "0") << "a missing key becomes 0 and is written";
  EXPECT_EQ(ReadFile(Store()), "v=2\r\nR=1\r\nW=16\r\nZ=0\r\n");
}

TEST_F(InfoTest, UpdateCounterAddsToWhatTheKeyHolds) {
  TvoInfo info;
  info.FStore.SetValue("A", "abc");
  info.UpdateCounter("A", 0, 5);
  EXPECT_EQ(info.GetValue("A"), "5") << "no whole number counts from 0";
  info.UpdateCounter("A", 0, 7);
  EXPECT_EQ(info.GetValue("A"), "12");
  info.UpdateCounter("A", -3, 1);
  EXPECT_EQ(info.GetValue("A"), "13") << "a Value of 0 or less adds the increment";
  info.UpdateCounter("F", 0, 0);
  EXPECT_EQ(info.GetValue("F"), "0");
}

TEST_F(InfoTest, UpdateCounterFromSeveralThreadsLosesNoCount) {
  TvoInfo info;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&info, t] {
      for (int i = 0; i < 25; ++i) {
        info.UpdateCounter("S", 0, 1);
        info.UpdateCounter("W", 16 + t, 1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(info.GetValue("S"), "100");
  TvoOptionList onDisk(ReadFile(Store()));
  EXPECT_EQ(onDisk.GetValue("S"), "100");
}

TEST_F(InfoTest, StatisticsTextTakesCapitalNamesInStoreOrder) {
  TvoInfo info;
  info.FStore.SetText("R=12\r\nv=2\r\nC=3\r\nA=40\r\nS=38\r\nF=2\r\nnote\r\n");
  EXPECT_EQ(info.StatisticsText(), "r12c3a40s38f2");
}

TEST_F(InfoTest, InstallIdIsThePackedCreationTimeOfTheProgramFolder) {
  TvoInfo info;
  EXPECT_NE(info.FInstallId, -1);
  EXPECT_EQ(info.FInstallId, TvoFileUtils::FileDosTime(Dir + "/bin", true, true));
}

struct LinkCase {
  const char* name;
  const char* kind;
  const char* page;
  const char* extra;
  const char* expected;  // after the home address
};

class LinkTest : public InfoTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkTest, BuildsWebAddresses) {
  TvoInfo info;
  info.FInstallId = 123;
  info.FStore.SetText("R=12\r\nv=2\r\nC=3\r\nA=40\r\nS=38\r\nF=2\r\n");
  const auto& c = GetParam();
  info.OpenLink(c.kind, c.page, c.extra);
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0], voHomeUrl() + c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, LinkTest,
    ::testing::Values(
        LinkCase{"home", "", "", "", "?p=tabrix&v=2020.12.1118.2541&c=r12c3a40s38f2&i=123"},
        LinkCase{"download", "download", "", "",
                 "/en/tabrix/download.htm?p=tabrix&v=2020.12.1118.2541&c=r12c3a40s38f2&i=123"},
        LinkCase{"install", "", "ins", "src=setup",
                 "/net/?a=ins&p=tabrix&v=2020.12.1118.2541&c=r12c3a40s38f2&i=123&src=setup"},
        LinkCase{"error_report", "", "err&e=\"Cannot open\" file x.xls", "",
                 "/net/?a=err&e=Cannot open file x.xls&p=tabrix&v=2020.12.1118.2541&c=r12c3a40s38f2&i=123"},
        LinkCase{"kind_and_page", "download", "ins", "",
                 "/en/tabrix/download.htm?a=ins&p=tabrix&v=2020.12.1118.2541&c=r12c3a40s38f2&i=123"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfoTest, EmptyQueryPartsAreLeftOut) {
  TvoInfo info;
  info.FInstallId = -1;
  info.FStore.SetText("v=2\r\n");
  Project.FVersion.clear();
  EXPECT_EQ(info.LinkAddress("", "", ""), voHomeUrl() + "?p=tabrix&i=-1");
}

TEST_F(InfoTest, SupportMailReplacesOnlyTheFirstAmpersandOfTheTitle) {
  TvoInfo info;
  info.FInstallId = 42;
  Project.FTitle = "Tom & Jerry & Co";
  info.OpenLink("supports", "ignored", "ignored");
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0], "mailto:" + voSupportMail() +
                           "?subject=Support required for Tom And Jerry & Co 2020.12.1118.2541 - 42");
}

TEST_F(InfoTest, HelpOpensTheChmFileWhenPresentElseThePdf) {
  TvoInfo info;
  info.OpenLink("h", "", "");
  WriteFile(BinDir + "tabrix.chm", "help");
  info.OpenLink("h", "", "");
  ASSERT_EQ(Opened.size(), 2u);
  EXPECT_EQ(Opened[0], BinDir + "tabrix.pdf") << "the pdf is asked for even when missing";
  EXPECT_EQ(Opened[1], BinDir + "tabrix.chm");
}

TEST_F(InfoTest, TheAddressReachesTheOpenerAsOneArgumentUnchanged) {
  TvoInfo info;
  info.FStore.SetText("R=1\r\n");
  info.FInstallId = 1;
  info.OpenLink("", "err&e=a b;$(rm -rf x)`id`|y", "");
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0], voHomeUrl() + "/net/?a=err&e=a b;$(rm -rf x)`id`|y&p=tabrix&v=2020.12.1118.2541&c=r1&i=1");
}

TEST_F(InfoTest, AppExceptionCountsAndReportsWithoutThrowing) {
  TvoInfo info;
  info.FInstallId = 5;
  info.AppException("List index out of bounds (3)");
  EXPECT_EQ(info.GetValue("E"), "1");
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0], voHomeUrl() + "/net/?a=err&e=List index out of bounds (3)&p=tabrix&v=2020.12.1118.2541&c=r1e1&i=5");
}

TEST_F(InfoTest, LinksWorkWithoutAProject) {
  voProject = nullptr;
  TvoInfo info;
  info.FInstallId = 3;
  EXPECT_EQ(info.LinkAddress("", "uni", ""), voHomeUrl() + "/net/?a=uni&c=r1&i=3");
}

}  // namespace
