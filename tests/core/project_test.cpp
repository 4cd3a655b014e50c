// The batch project: accessors, project files, recent list, Open, control binding,
// command line, target folder, saving.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/voProject.h"
#include "core_support.h"
#include "platform/error.h"

namespace {

using coretest::FakeControl;
using coretest::FakeDialogs;
using coretest::ReadFile;
using coretest::WriteFile;

class ProjectTest : public coretest::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    Project = std::make_unique<TvoProject>();
    coretest::SetProductConstants(*Project);
  }
  void TearDown() override {
    Project.reset();
    ScratchTest::TearDown();
  }
  void RegisterWindowControls() {
    Project->RegisterControl(&eSource);
    Project->RegisterControl(&cSubdir);
    Project->RegisterControl(&eTarget);
  }
  std::string DefaultProject() const { return BinDir + "tabrix.batch-tabrix"; }

  std::unique_ptr<TvoProject> Project;
  FakeControl eSource{"eSource", "Text"};
  FakeControl cSubdir{"cSubdir", "Checked"};
  FakeControl eTarget{"eTarget", "Text"};
};

TEST_F(ProjectTest, EveryAccessorHasItsDefaultOnAnEmptyProject) {
  TvoProject& p = *Project;
  EXPECT_EQ(p.Source(), "");
  EXPECT_EQ(p.Target(), "");
  EXPECT_FALSE(p.Subdir());
  EXPECT_EQ(p.ThreadsCount(), 1);
  EXPECT_EQ(p.IsOverwrite(), 1);
  EXPECT_FALSE(p.KeepFileTime());
  EXPECT_TRUE(p.KeepTargetSubdirs());
  EXPECT_FALSE(p.MacroEnabled());
  EXPECT_FALSE(p.DeleteSource());
  EXPECT_EQ(p.RenameSource(), "");
  EXPECT_FALSE(p.PureConsole());
  EXPECT_FALSE(p.RunAndClose());
  EXPECT_EQ(p.Daemon(), 0);
  EXPECT_TRUE(p.FAutoTarget);
  EXPECT_TRUE(p.FOverwriteDefault);
  EXPECT_EQ(p.FPathDelim, '/');
  EXPECT_EQ(p.FFileName, "");
}

TEST_F(ProjectTest, AccessorsReadTheirKeysByTheValueRules) {
  TvoProject& p = *Project;
  p.FOptions.SetText(
      "source=/in/*.xls?\nTARGET=/out/\nSubdir=1\nThreadsCount=abc\nKeepFileTime=true\n"
      "KeepTargetSubdirs=0\nMacroEnabled=1\nDeleteSource=True\nRenameSource=.done\nDaemon=-5\n");
  EXPECT_EQ(p.Source(), "/in/*.xls?");
  EXPECT_EQ(p.Target(), "/out/");
  EXPECT_TRUE(p.Subdir());
  EXPECT_EQ(p.ThreadsCount(), 1);
  EXPECT_TRUE(p.KeepFileTime());
  EXPECT_FALSE(p.KeepTargetSubdirs());
  EXPECT_TRUE(p.MacroEnabled());
  EXPECT_TRUE(p.DeleteSource());
  EXPECT_EQ(p.RenameSource(), ".done");
  EXPECT_EQ(p.Daemon(), -5);
  EXPECT_FALSE(p.RunAndClose()) << "a negative Daemon does not count as above 0";
  p.SetValue("ThreadsCount", "$3");
  EXPECT_EQ(p.ThreadsCount(), 3);
}

TEST_F(ProjectTest, RunAndCloseFollowsPureConsoleAndDaemon) {
  TvoProject& p = *Project;
  p.SetValue("RunAndClose", "True");
  EXPECT_TRUE(p.RunAndClose());
  p.SetValue("RunAndClose", "False");
  p.SetValue("PureConsole", "1");
  EXPECT_TRUE(p.PureConsole());
  EXPECT_TRUE(p.RunAndClose());
  p.SetValue("PureConsole", "");
  p.SetValue("Daemon", "1000");
  EXPECT_TRUE(p.RunAndClose());
}

struct OverwriteCase {
  const char* value;
  bool default_value;
  int expected;
};

class IsOverwriteTest : public ProjectTest, public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(IsOverwriteTest, GivesNoYesOrSkip) {
  Project->FOverwriteDefault = GetParam().default_value;
  Project->SetValue("IsOverwrite", GetParam().value);
  EXPECT_EQ(Project->IsOverwrite(), GetParam().expected) << "value \"" << GetParam().value << "\"";
}

INSTANTIATE_TEST_SUITE_P(Cases, IsOverwriteTest,
                         ::testing::Values(OverwriteCase{"skip", true, 9}, OverwriteCase{"SKIP", true, 9},
                                           OverwriteCase{"Skip", false, 9}, OverwriteCase{"0", true, 0},
                                           OverwriteCase{"False", true, 0}, OverwriteCase{"1", false, 1},
                                           OverwriteCase{"true", false, 1}, OverwriteCase{"", true, 1},
                                           OverwriteCase{"maybe", true, 1}, OverwriteCase{"", false, 0},
                                           OverwriteCase{" skip", true, 1}));

// ---------------------------------------------------------------------------
// Project files

struct EncodingCase {
  const char* name;
  std::string bytes;
};

class ProjectFileEncodingTest : public ProjectTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(ProjectFileEncodingTest, ReadsEachByteOrderMarkAndNone) {
  std::string file = Dir + "/p.batch-tabrix";
  WriteFile(file, GetParam().bytes);
  Project->FFileName = file;
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->Source(), "/dé/*.xls?");
  EXPECT_EQ(Project->ThreadsCount(), 2);
  EXPECT_EQ(Project->FOptions.Count(), 2);
}

std::string Utf16(const std::u16string& s, bool little) {
  std::string r = little ? std::string("\xFF\xFE") : std::string("\xFE\xFF");
  for (char16_t c : s) {
    char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    r += little ? lo : hi;
    r += little ? hi : lo;
  }
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ProjectFileEncodingTest,
    ::testing::Values(EncodingCase{"none", "Source=/d\xC3\xA9/*.xls?\r\nThreadsCount=2\r\n"},
                      EncodingCase{"utf8", "\xEF\xBB\xBFSource=/d\xC3\xA9/*.xls?\nThreadsCount=2"},
                      EncodingCase{"utf16le", Utf16(u"Source=/dé/*.xls?\r\nThreadsCount=2\r\n", true)},
                      EncodingCase{"utf16be", Utf16(u"Source=/dé/*.xls?\rThreadsCount=2\r", false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProjectTest, SaveWritesEveryLineWithCrLfAndNoByteOrderMarkKeepingNotes) {
  std::string file = Dir + "/p.batch-tabrix";
  WriteFile(file, "\xEF\xBB\xBF; monthly run\nSource=/in/*.xls?\nTarget=/\xC3\xA9/\n");
  Project->FFileName = file;
  Project->Open(false);
  Project->SetValue("Subdir", "True");
  ASSERT_TRUE(Project->Save());
  EXPECT_EQ(ReadFile(file), "; monthly run\r\nSource=/in/*.xls?\r\nTarget=/\xC3\xA9/\r\nSubdir=True\r\n");
}

TEST_F(ProjectTest, IsProjectFileComparesTheExtensionExactly) {
  EXPECT_TRUE(Project->IsProjectFile("/p/Monthly.batch-tabrix"));
  EXPECT_TRUE(Project->IsProjectFile(".batch-tabrix"));
  EXPECT_FALSE(Project->IsProjectFile("/p/MONTHLY.BATCH-TABRIX"));
  EXPECT_FALSE(Project->IsProjectFile("/p/Monthly.batch-tabrix.bak"));
  EXPECT_FALSE(Project->IsProjectFile(""));
}

TEST_F(ProjectTest, FilesBesideTheProgram) {
  EXPECT_EQ(Project->DefaultProjectFile(), BinDir + "tabrix.batch-tabrix");
  EXPECT_EQ(Project->RecentListFile(), BinDir + "tabrix.log");
}

// ---------------------------------------------------------------------------
// Recent list

TEST_F(ProjectTest, RecentListIsReadAtCreationAndWrittenAtDestructionEvenWhenEmpty) {
  Project.reset();
  std::string log = BinDir + "tabrix.log";
  std::filesystem::remove(log);
  Project = std::make_unique<TvoProject>();
  Project.reset();
  EXPECT_EQ(ReadFile(log), "") << "the empty list is written too";
  ASSERT_TRUE(std::filesystem::exists(log));

  WriteFile(log, "/p/b.batch-tabrix\n/p/a.batch-tabrix\n");
  Project = std::make_unique<TvoProject>();
  EXPECT_EQ(Project->FRecent, (std::vector<std::string>{"/p/b.batch-tabrix", "/p/a.batch-tabrix"}));
  Project->FFileName = "/p/c.batch-tabrix";
  Project->AddRecent();
  Project.reset();
  EXPECT_EQ(ReadFile(log), "/p/c.batch-tabrix\r\n/p/b.batch-tabrix\r\n/p/a.batch-tabrix\r\n");
}

TEST_F(ProjectTest, AddRecentPutsNewNamesFirstAndKeepsKnownOnesInPlace) {
  for (const char* n : {"/p/a.batch-tabrix", "/p/b.batch-tabrix", "/P/A.batch-tabrix", "/p/c.batch-tabrix"}) {
    Project->FFileName = n;
    Project->AddRecent();
  }
  EXPECT_EQ(Project->FRecent,
            (std::vector<std::string>{"/p/c.batch-tabrix", "/p/b.batch-tabrix", "/p/a.batch-tabrix"}));
}

TEST_F(ProjectTest, SavingTwiceUnderOneNameKeepsOneRecentEntry) {
  Project->FFileName = Dir + "/one.batch-tabrix";
  Project->Save();
  Project->FFileName = Dir + "/two.batch-tabrix";
  Project->Save();
  Project->FFileName = Dir + "/one.batch-tabrix";
  Project->Save();
  EXPECT_EQ(Project->FRecent, (std::vector<std::string>{Dir + "/two.batch-tabrix", Dir + "/one.batch-tabrix"}));
}

TEST_F(ProjectTest, AnUnwritableRecentListIsPassedOver) {
  // The program folder is missing and cannot be made (its parent is a file).
  WriteFile(Dir + "/plain", "x");
  platform::path::set_program_file_for_testing(Dir + "/plain/tabrix");
  auto p = std::make_unique<TvoProject>();
  p->FFileName = "/p/a.batch-tabrix";
  p->AddRecent();
  EXPECT_NO_THROW(p.reset());
}

// ---------------------------------------------------------------------------
// Open

TEST_F(ProjectTest, OpenReadsAProjectFileAndAddsItToTheRecentList) {
  std::string file = Dir + "/p.batch-tabrix";
  WriteFile(file, "Source=/in/*.xls?\n");
  Project->SetValue("Old", "1");
  Project->FFileName = file;
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/in/*.xls?\r\n");
  EXPECT_EQ(Project->FFileName, file);
  EXPECT_EQ(Project->FRecent, std::vector<std::string>{file});
}

TEST_F(ProjectTest, OpenOfAMissingProjectFileChangesNothing) {
  Project->SetValue("Source", "/keep/*.xls?");
  Project->FFileName = Dir + "/missing.batch-tabrix";
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/keep/*.xls?\r\n");
  EXPECT_TRUE(Project->FRecent.empty());
  EXPECT_EQ(Project->FFileName, Dir + "/missing.batch-tabrix");
}

TEST_F(ProjectTest, OpenOfAFifoNamedLikeAProjectReadsNothingAndDoesNotBlock) {
  std::string fifo = Dir + "/pipe.batch-tabrix";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Project->SetValue("Source", "/keep/");
  Project->FFileName = fifo;
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->Source(), "/keep/");
  EXPECT_TRUE(Project->FRecent.empty());
}

TEST_F(ProjectTest, OpenOfAWorkbookMakesItTheSourceOfAProjectWithoutFile) {
  Project->SetValue("ThreadsCount", "2");
  Project->FFileName = "/in/book.xlsx";
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->FFileName, "");
  EXPECT_EQ(Project->Source(), "/in/book.xlsx");
  EXPECT_EQ(Project->Target(), "/in/");
  EXPECT_EQ(Project->ThreadsCount(), 2) << "other options stay";
  EXPECT_TRUE(Project->FRecent.empty());
}

TEST_F(ProjectTest, OpenOfANonProjectFileKeepsATargetAndHonoursAutoTarget) {
  Project->SetValue("Target", "/t/");
  Project->FFileName = "/in/BOOK.BATCH-TABRIX";  // capital letters: not a project file
  Project->Open(false);
  EXPECT_EQ(Project->Source(), "/in/BOOK.BATCH-TABRIX");
  EXPECT_EQ(Project->Target(), "/t/");

  Project->FAutoTarget = false;
  Project->SetValue("Target", "");
  Project->FFileName = "/in/book.xls";
  Project->Open(false);
  EXPECT_EQ(Project->Target(), "");
}

TEST_F(ProjectTest, OpenWithCommandLineOptionsFillsTheTargetFromTheSource) {
  Project->FCommandOptions = "Source=/in/sub/*.xls\r\nSubdir=True";
  Project->SetValue("Stale", "1");
  ASSERT_TRUE(Project->Open(false));
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/in/sub/*.xls\r\nSubdir=True\r\nTarget=/in/sub/\r\n");
}

TEST_F(ProjectTest, OpenWithTheDialogOffersProjectsAndWorkbooks) {
  FakeDialogs d;
  Project->FFileName = "/p/old.batch-tabrix";
  d.OpenAnswers.push_back(std::vector<std::string>{"/in/book.xls"});
  ASSERT_TRUE(Project->Open(true));
  ASSERT_EQ(d.OpenSetups.size(), 1u);
  EXPECT_EQ(d.OpenSetups[0].Filter,
            "Tabrix Project|*.batch-tabrix|Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx");
  EXPECT_EQ(d.OpenSetups[0].StartName, "/p/old.batch-tabrix");
  EXPECT_FALSE(d.OpenSetups[0].Multi);
  EXPECT_TRUE(d.OpenSetups[0].MustExist);
  EXPECT_EQ(Project->Source(), "/in/book.xls");
  EXPECT_EQ(Project->Target(), "/in/");
  EXPECT_EQ(Project->FFileName, "");
}

TEST_F(ProjectTest, OpenCancelledChangesNothing) {
  FakeDialogs d;
  RegisterWindowControls();
  eSource.Text = "typed but not collected";
  Project->SetValue("Source", "/in/*.xls?");
  Project->FFileName = "/p/a.batch-tabrix";
  d.OpenAnswers.push_back(std::nullopt);
  EXPECT_FALSE(Project->Open(true));
  EXPECT_EQ(Project->FFileName, "/p/a.batch-tabrix");
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/in/*.xls?\r\n");
  EXPECT_EQ(eSource.Text, "typed but not collected") << "controls are not touched";
}

TEST_F(ProjectTest, AWorkbookOpenedUnderCommandLineOptionsNeverBecomesTheSaveTarget) {
  FakeDialogs d;
  std::string book = Dir + "/book.xlsx";
  WriteFile(book, "workbook bytes");
  Project->FCommandOptions = "Source=/in/*.xls\r\nTarget=/out/";
  Project->FFileName = book;
  Project->Open(false);
  EXPECT_EQ(Project->FFileName, "");
  EXPECT_EQ(Project->Source(), "/in/*.xls");
  // Save now asks for a name; cancelling writes nothing.
  d.SaveAnswers.push_back(std::nullopt);
  EXPECT_FALSE(Project->Save());
  EXPECT_EQ(d.SaveSetups.size(), 1u);
  EXPECT_EQ(ReadFile(book), "workbook bytes");
}

// ---------------------------------------------------------------------------
// Control binding

TEST_F(ProjectTest, ApplyToControlsShowsTheKeysAndMakesEachPropListOnce) {
  RegisterWindowControls();
  Project->FOptions.SetText("Source=/in/*.xls?\nSubdir=true\nTarget=/out/\n");
  Project->ApplyToControls();
  EXPECT_EQ(eSource.Text, "/in/*.xls?");
  EXPECT_TRUE(cSubdir.Checked);
  EXPECT_EQ(eTarget.Text, "/out/");
  EXPECT_GT(eSource.TagValue, 0);
  EXPECT_GT(cSubdir.TagValue, 0);
  std::int32_t tag = eSource.TagValue;
  TvoPropList* list = Project->PropListOf(&eSource);
  Project->ApplyToControls();
  EXPECT_EQ(eSource.TagValue, tag);
  EXPECT_EQ(Project->PropListOf(&eSource), list);
  EXPECT_EQ(list->FInstance, &eSource);
  EXPECT_EQ(list->FCount, 3);
}

TEST_F(ProjectTest, MissingKeysEmptyTheFieldsAndClearTheCheckBox) {
  RegisterWindowControls();
  eSource.Text = "x";
  eTarget.Text = "y";
  cSubdir.Checked = true;
  Project->ApplyToControls();
  EXPECT_EQ(eSource.Text, "");
  EXPECT_EQ(eTarget.Text, "");
  EXPECT_FALSE(cSubdir.Checked);
}

TEST_F(ProjectTest, TheCheckBoxTakesOnlyTrueAndFalseWords) {
  RegisterWindowControls();
  cSubdir.Checked = true;
  Project->SetValue("Subdir", "1");
  Project->ApplyToControls();
  EXPECT_TRUE(cSubdir.Checked) << "1 is no value name: unchanged";
  Project->SetValue("Subdir", "FALSE");
  Project->ApplyToControls();
  EXPECT_FALSE(cSubdir.Checked);
  Project->SetValue("Subdir", "0");
  cSubdir.Checked = true;
  Project->ApplyToControls();
  EXPECT_TRUE(cSubdir.Checked);
}

TEST_F(ProjectTest, OldKeysAreReadOnceAndRewrittenUnderTheShortKey) {
  RegisterWindowControls();
  std::string file = Dir + "/old.batch-tabrix";
  WriteFile(file, "eSource.Text=/old/*.xls\r\ncSubdir.Checked=True\r\nThreadsCount=2\r\neTarget.Text=/t/\r\n");
  Project->FFileName = file;
  Project->Open(false);
  EXPECT_EQ(eSource.Text, "/old/*.xls");
  EXPECT_TRUE(cSubdir.Checked);
  EXPECT_EQ(eTarget.Text, "/t/");
  EXPECT_EQ(Project->FOptions.GetText(), "ThreadsCount=2\r\n");
  Project->Save();
  EXPECT_EQ(ReadFile(file), "ThreadsCount=2\r\nSource=/old/*.xls\r\nSubdir=True\r\nTarget=/t/\r\n");
}

TEST_F(ProjectTest, AnOldKeyIsIgnoredWhenTheShortKeyHasAValue) {
  RegisterWindowControls();
  Project->FOptions.SetText("Source=/new/\neSource.Text=/old/\n");
  Project->ApplyToControls();
  EXPECT_EQ(eSource.Text, "/new/");
  EXPECT_EQ(Project->GetValue("eSource.Text"), "/old/");
}

TEST_F(ProjectTest, CollectFromControlsWritesTheFieldsInRegistrationOrder) {
  RegisterWindowControls();
  Project->SetValue("ThreadsCount", "4");
  Project->SetValue("Target", "/gone/");
  eSource.Text = "/in/*.xls?";
  cSubdir.Checked = false;
  eTarget.Text = "";
  Project->CollectFromControls();
  EXPECT_EQ(Project->FOptions.GetText(), "ThreadsCount=4\r\nSource=/in/*.xls?\r\nSubdir=False\r\n");
}

TEST_F(ProjectTest, PropListReadsAndWritesByKind) {
  FakeControl c("eWidth", "Width");
  TvoPropList l(&c);
  c.Width = 42;
  EXPECT_EQ(l.GetPropText("width"), "42");
  l.SetPropText("Width", "$10");
  EXPECT_EQ(c.Width, 16);
  l.SetPropText("Width", "wide");
  EXPECT_EQ(c.Width, 16);
  l.SetPropText("Checked", "tRUE");
  EXPECT_TRUE(c.Checked);
  EXPECT_EQ(l.GetPropText("Checked"), "True");
  l.SetPropText("Checked", "");
  EXPECT_FALSE(c.Checked);
  l.SetPropText("Nope", "x");
  EXPECT_EQ(l.GetPropText("Nope"), "");
}

TEST_F(ProjectTest, DestructionResetsPositiveTags) {
  RegisterWindowControls();
  FakeControl unused("eOther", "Text");
  unused.TagValue = 0;
  Project->RegisterControl(&unused);
  Project->ApplyToControls();
  ASSERT_GT(eSource.TagValue, 0);
  unused.TagValue = 0;
  Project.reset();
  EXPECT_EQ(eSource.TagValue, -1);
  EXPECT_EQ(cSubdir.TagValue, -1);
  EXPECT_EQ(eTarget.TagValue, -1);
  EXPECT_EQ(unused.TagValue, 0);
}

TEST_F(ProjectTest, NewEmptiesNameAndOptionsAndTheControls) {
  RegisterWindowControls();
  Project->FFileName = "/p/a.batch-tabrix";
  Project->FOptions.SetText("Source=/x\n");
  Project->ApplyToControls();
  Project->New();
  EXPECT_EQ(Project->FFileName, "");
  EXPECT_TRUE(Project->FOptions.Empty());
  EXPECT_EQ(eSource.Text, "");
}

// ---------------------------------------------------------------------------
// Saving

TEST_F(ProjectTest, SaveAsTakesTheChosenNameAndSaveThenWritesWithoutAsking) {
  FakeDialogs d;
  RegisterWindowControls();
  eSource.Text = "/in/*.xls?";
  d.SaveAnswers.push_back(Dir + "/chosen.batch-tabrix");
  ASSERT_TRUE(Project->Save());
  ASSERT_EQ(d.SaveSetups.size(), 1u);
  EXPECT_EQ(d.SaveSetups[0].Filter, "Tabrix Project|*.batch-tabrix");
  EXPECT_EQ(d.SaveSetups[0].DefaultExt, ".batch-tabrix");
  EXPECT_TRUE(d.SaveSetups[0].AskReplace);
  EXPECT_EQ(Project->FFileName, Dir + "/chosen.batch-tabrix");
  EXPECT_EQ(ReadFile(Dir + "/chosen.batch-tabrix"), "Source=/in/*.xls?\r\nSubdir=False\r\n");
  EXPECT_EQ(Project->FRecent, std::vector<std::string>{Dir + "/chosen.batch-tabrix"});
  ASSERT_TRUE(Project->Save());
  EXPECT_EQ(d.SaveSetups.size(), 1u) << "no second dialog";
}

TEST_F(ProjectTest, SaveAsCancelledChangesNothing) {
  FakeDialogs d;
  Project->FFileName = Dir + "/a.batch-tabrix";
  d.SaveAnswers.push_back(std::nullopt);
  EXPECT_FALSE(Project->SaveAs());
  EXPECT_EQ(Project->FFileName, Dir + "/a.batch-tabrix");
  EXPECT_FALSE(std::filesystem::exists(Dir + "/a.batch-tabrix"));
}

TEST_F(ProjectTest, AFailedWriteIsThrownAndLeavesTheRecentListAlone) {
  FakeDialogs d;
  std::filesystem::create_directories(Dir + "/folder.batch-tabrix");  // a folder cannot be written as a file
  d.SaveAnswers.push_back(Dir + "/folder.batch-tabrix");
  Project->SetValue("Source", "/in/");
  EXPECT_THROW(Project->SaveAs(), platform::FileError);
  EXPECT_EQ(Project->FFileName, Dir + "/folder.batch-tabrix");
  EXPECT_TRUE(Project->FRecent.empty());
  EXPECT_EQ(Project->Source(), "/in/");
}

// ---------------------------------------------------------------------------
// Target folder

TEST_F(ProjectTest, TargetFolderCreatesTheFolderAndAppendsTheDelimiter) {
  Project->SetValue("Target", Dir + "/out/a/b");
  EXPECT_EQ(Project->TargetFolder(), Dir + "/out/a/b/");
  EXPECT_TRUE(std::filesystem::is_directory(Dir + "/out/a/b"));
  Project->SetValue("Target", Dir + "/out/");
  EXPECT_EQ(Project->TargetFolder(), Dir + "/out/");
}

TEST_F(ProjectTest, TargetFolderWithAnEmptyTargetIsEmptyAndCreatesNothing) {
  auto before = std::distance(std::filesystem::directory_iterator(Dir), {});
  EXPECT_EQ(Project->TargetFolder(), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), before);
}

TEST_F(ProjectTest, TargetFolderCreatesNothingWithAnotherDelimiterAndIgnoresFailures) {
  Project->FPathDelim = '\\';
  Project->SetValue("Target", Dir + "/never");
  EXPECT_EQ(Project->TargetFolder(), Dir + "/never\\");
  EXPECT_FALSE(std::filesystem::exists(Dir + "/never"));

  Project->FPathDelim = '/';
  WriteFile(Dir + "/file", "x");
  Project->SetValue("Target", Dir + "/file/sub");
  EXPECT_EQ(Project->TargetFolder(), Dir + "/file/sub/");
}

// ---------------------------------------------------------------------------
// Command line

struct CommandLineCase {
  const char* name;
  const char* argument;
  bool continues;
  const char* options;    // FCommandOptions afterwards
  const char* file_name;  // FFileName afterwards; "*" = the default project file
};

// The project as start-up has it: voProject and voInfo in place.
class StartupProjectTest : public ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    voProject = Project.get();
    Info = std::make_unique<TvoInfo>();
    voInfo = Info.get();
  }
  void TearDown() override {
    voInfo = nullptr;
    voProject = nullptr;
    Info.reset();
    ProjectTest::TearDown();
  }
  std::unique_ptr<TvoInfo> Info;
};

class CommandLineTest : public StartupProjectTest, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, FollowsTheGrammar) {
  const auto& c = GetParam();
  EXPECT_EQ(Project->ReadCommandLine(c.argument), c.continues);
  EXPECT_EQ(Project->FCommandOptions, c.options);
  std::string expected_name = std::string(c.file_name) == "*" ? DefaultProject() : c.file_name;
  if (c.continues) {
    EXPECT_EQ(Project->FFileName, expected_name);
    EXPECT_TRUE(Opened.empty());
  } else {
    EXPECT_EQ(Opened.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"none", "", true, "", "*"}, CommandLineCase{"one_character", "x", true, "", "*"},
        CommandLineCase{"one_wide_character", "\xC3\xA9", true, "", "*"},
        CommandLineCase{"dash_P_colon", "-P:Source=/in/*.xls?;Target=/out/;PureConsole=1", true,
                        "Source=/in/*.xls?\r\nTarget=/out/\r\nPureConsole=1", ""},
        CommandLineCase{"slash_p_commas", "/p:Source=/in/*.xls,Subdir=True", true,
                        "Source=/in/*.xls\r\nSubdir=True", ""},
        CommandLineCase{"P_without_colon", "-pSource=/a/*.xls", true, "Source=/a/*.xls", ""},
        CommandLineCase{"P_with_blank", "-P Source=/a/*.xls", true, " Source=/a/*.xls", ""},
        CommandLineCase{"P_empty", "-P", true, "", "*"}, CommandLineCase{"P_colon_only", "-p:", true, "", "*"},
        CommandLineCase{"other_letter", "-Q:Source=/x", true, "", "*"},
        CommandLineCase{"absolute_path", "/in/Monthly.batch-tabrix", true, "", "/in/Monthly.batch-tabrix"},
        CommandLineCase{"absolute_path_like_a_switch", "/proj/x.xlsx", true, "", ""},
        CommandLineCase{"relative_name", "sub/book.xlsx", true, "", ""},
        CommandLineCase{"install", "-Isrc=setup", false, "", ""},
        CommandLineCase{"install_bare", "-i", false, "", ""},
        CommandLineCase{"uninstall_slash", "/U", false, "", ""},
        CommandLineCase{"uninstall_dash", "-u", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupProjectTest, AWorkbookArgumentBecomesTheSource) {
  ASSERT_TRUE(Project->ReadCommandLine("sub/book.xlsx"));
  EXPECT_EQ(Project->Source(), "sub/book.xlsx");
  EXPECT_EQ(Project->Target(), "sub/");
  EXPECT_EQ(Project->FFileName, "");
}

TEST_F(StartupProjectTest, OptionsMakeTheWholeProjectAndTheDefaultFileIsNotRead) {
  WriteFile(DefaultProject(), "ThreadsCount=8\r\n");
  ASSERT_TRUE(Project->ReadCommandLine("-P:Source=/in/*.xls?;PureConsole=1"));
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/in/*.xls?\r\nPureConsole=1\r\nTarget=/in/\r\n");
  EXPECT_TRUE(Project->PureConsole());
  EXPECT_EQ(Project->FFileName, "");
  // A second load makes the same choice.
  Project->LoadStartup();
  EXPECT_EQ(Project->FOptions.GetText(), "Source=/in/*.xls?\r\nPureConsole=1\r\nTarget=/in/\r\n");
}

TEST_F(StartupProjectTest, NoArgumentOpensTheDefaultProjectFile) {
  WriteFile(DefaultProject(), "PureConsole=1\r\nSource=/in/*.xls?\r\n");
  ASSERT_TRUE(Project->ReadCommandLine(""));
  EXPECT_TRUE(Project->PureConsole());
  EXPECT_EQ(Project->FRecent, std::vector<std::string>{DefaultProject()});
}

TEST_F(StartupProjectTest, WithoutADefaultFileSaveWritesItWithoutAsking) {
  FakeDialogs d;
  ASSERT_TRUE(Project->ReadCommandLine(""));
  EXPECT_TRUE(Project->FOptions.Empty());
  EXPECT_EQ(Project->FFileName, DefaultProject());
  Project->SetValue("Source", "/in/*.xls?");
  ASSERT_TRUE(Project->Save());
  EXPECT_TRUE(d.SaveSetups.empty());
  EXPECT_EQ(ReadFile(DefaultProject()), "Source=/in/*.xls?\r\n");
}

TEST_F(StartupProjectTest, NotificationSwitchesOpenTheirPages) {
  Info->FInstallId = 7;
  Info->FStore.SetText("R=1\r\nv=2\r\n");
  ASSERT_FALSE(Project->ReadCommandLine("-Isrc=setup"));
  ASSERT_FALSE(Project->ReadCommandLine("/u"));
  ASSERT_EQ(Opened.size(), 2u);
  EXPECT_EQ(Opened[0], voHomeUrl() + "/net/?a=ins&p=tabrix&v=2020.12.1118.2541&c=r1&i=7&src=setup");
  EXPECT_EQ(Opened[1], voHomeUrl() + "/net/?a=uni&p=tabrix&v=2020.12.1118.2541&c=r1&i=7");
  EXPECT_TRUE(Project->FOptions.Empty()) << "a switch that ends the process loads nothing";
}

}  // namespace
