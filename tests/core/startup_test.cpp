// Start-up and tear-down: the order of the process-wide objects, the notification
// switches, the unattended branch and the windowed branch.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/voMatch.h"
#include "core/voMain.h"
#include "core/voStartup.h"
#include "core_support.h"

namespace {

using coretest::ReadFile;
using coretest::WriteFile;

class StartupTest : public coretest::ScratchTest {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "tabrix");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return voRun(static_cast<int>(args.size()), argv.data());
  }
  void ExpectTornDown() {
    EXPECT_EQ(voApp, nullptr);
    EXPECT_EQ(voInfo, nullptr);
    EXPECT_EQ(voProject, nullptr);
    EXPECT_EQ(voMain, nullptr);
    EXPECT_EQ(Matcher, nullptr);
  }
  std::string Store() const { return BinDir + "tabrix.ext"; }
  std::string Recent() const { return BinDir + "tabrix.log"; }
};

TEST_F(StartupTest, UninstallSwitchOpensItsPageCountsTheStartAndEnds) {
  EXPECT_EQ(Run({"-U"}), 0);
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0].rfind(voHomeUrl() + "/net/?a=uni&p=tabrix&v=2020.12.1118.2541&c=r1&i=", 0), 0u) << Opened[0];
  EXPECT_EQ(TvoOptionList(ReadFile(Store())).GetValue("R"), "1");
  EXPECT_TRUE(std::filesystem::exists(Recent())) << "the recent list is written on every end";
  ExpectTornDown();
}

TEST_F(StartupTest, InstallSwitchCarriesItsExtraPart) {
  EXPECT_EQ(Run({"/i:ignored", "second"}), 0) << "a slash switch with a colon";
  EXPECT_EQ(Run({"-Isrc=setup"}), 0);
  ASSERT_EQ(Opened.size(), 2u);
  EXPECT_NE(Opened[0].find("a=ins&"), std::string::npos);
  EXPECT_EQ(Opened[0].substr(Opened[0].size() - 9), "&:ignored");
  EXPECT_EQ(Opened[1].substr(Opened[1].size() - 10), "&src=setup");
  EXPECT_EQ(TvoOptionList(ReadFile(Store())).GetValue("R"), "2");
}

TEST_F(StartupTest, AWindowedStartWithoutTheWindowSaysSoAndEndsWithTwo) {
  auto old = voSetWindowRunner(nullptr);
  ::testing::internal::CaptureStderr();
  int status = Run({});
  std::string err = ::testing::internal::GetCapturedStderr();
  voSetWindowRunner(old);
  EXPECT_EQ(status, kNoWindowStatus);
  EXPECT_NE(err.find("window is not available"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_TRUE(Opened.empty());
  ExpectTornDown();
}

TEST_F(StartupTest, TheWindowRunsWithEveryObjectInPlace) {
  WriteFile(BinDir + "tabrix.batch-tabrix", "Source=/in/*.xls?\r\n");
  bool ran = false;
  auto old = voSetWindowRunner([&] {
    ran = true;
    EXPECT_NE(voApp, nullptr);
    EXPECT_NE(voInfo, nullptr);
    EXPECT_NE(Matcher, nullptr);
    EXPECT_NE(voMain, nullptr);
    EXPECT_EQ(voProject->FTitle, "Tabrix Converter");
    EXPECT_EQ(voProject->FFileName, BinDir + "tabrix.batch-tabrix");
    EXPECT_EQ(voProject->Source(), "/in/*.xls?");
    return 0;
  });
  EXPECT_EQ(Run({}), 0);
  voSetWindowRunner(old);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ReadFile(Recent()), BinDir + "tabrix.batch-tabrix\r\n");
  ExpectTornDown();
}

// A window control that checks at its destruction that the project is gone and
// has handed its tag back.
TEST_F(StartupTest, TheWindowsAreTornDownLastWithTheControlsOutlivingTheProject) {
  auto control = std::make_unique<coretest::FakeControl>("eSource", "Text");
  std::vector<std::string> order;
  auto old_runner = voSetWindowRunner([&] {
    voProject->RegisterControl(control.get());
    voProject->LoadStartup();
    EXPECT_GT(control->TagValue, 0);
    return 0;
  });
  auto old_teardown = voSetWindowTearDown([&] {
    order.push_back(voProject == nullptr && voInfo == nullptr && voApp == nullptr ? "after" : "too early");
    EXPECT_EQ(control->TagValue, -1);
    control.reset();
  });
  EXPECT_EQ(Run({}), 0);
  voSetWindowRunner(old_runner);
  voSetWindowTearDown(old_teardown);
  EXPECT_EQ(order, std::vector<std::string>{"after"});
}

TEST_F(StartupTest, PureConsoleWithAnHttpSourceStaysInTheWindow) {
  bool ran = false;
  auto old = voSetWindowRunner([&] {
    ran = true;
    return 0;
  });
  EXPECT_EQ(Run({"-P:Source=/in/http-drop/*.xls;Target=/out/;PureConsole=1"}), 0);
  voSetWindowRunner(old);
  EXPECT_TRUE(ran);
}

TEST_F(StartupTest, PureConsoleRunsUnattendedAndWritesItsLog) {
  std::filesystem::create_directories(Dir + "/in");
  bool ran = false;
  auto old = voSetWindowRunner([&] {
    ran = true;
    return 0;
  });
  int status = Run({"-P:Source=" + Dir + "/in/*.xls?;Target=" + Dir + "/out;LogFile=" + Dir + "/run.log;PureConsole=1"});
  voSetWindowRunner(old);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(std::filesystem::exists(Dir + "/run.log"));
  EXPECT_EQ(ReadFile(Dir + "/run.log"), "") << "nothing to convert";
  EXPECT_EQ(TvoOptionList(ReadFile(Store())).GetValue("C"), "1");
  ExpectTornDown();
}

TEST_F(StartupTest, AnErrorThatEscapesTheRunEndsWithOneAfterTearDown) {
  std::filesystem::create_directories(Dir + "/in");
  WriteFile(Dir + "/blocked", "a file where the log's folder should be");
  ::testing::internal::CaptureStderr();
  int status = Run({"-P:Source=" + Dir + "/in/*.xls?;Target=" + Dir + "/out/;LogFile=" + Dir +
                    "/blocked/run.log;PureConsole=1"});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kFailureStatus);
  EXPECT_NE(err.find("blocked/run.log"), std::string::npos) << err;
  EXPECT_EQ(TvoOptionList(ReadFile(Store())).GetValue("R"), "1") << "the store is still written";
  ExpectTornDown();
}

}  // namespace
