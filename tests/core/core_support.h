// Helpers of the core tests: a scratch folder with the program file placed in it,
// a fake control with "Text" and "Checked" properties, fake dialogs that give the
// next prepared answer, and a recorder in place of the shell opener.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/voApp.h"
#include "core/voFileUtils.h"
#include "core/voInfo.h"
#include "core/voProject.h"
#include "platform/path.h"
#include "platform/shell.h"

namespace coretest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// A fresh folder per test; the program file is <dir>/bin/tabrix (not created).
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tabrix-core-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    Dir = buf.data();
    BinDir = Dir + "/bin/";
    std::filesystem::create_directories(BinDir);
    Exe = BinDir + "tabrix";
    platform::path::set_program_file_for_testing(Exe);
    OldOpener = platform::shell::set_opener([this](const std::string& a) { Opened.push_back(a); });
  }
  void TearDown() override {
    platform::shell::set_opener(OldOpener);
    platform::path::set_program_file_for_testing("");
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }

  std::string Dir;     // the scratch folder, without trailing "/"
  std::string BinDir;  // the program's folder, with trailing "/"
  std::string Exe;     // the program file
  std::vector<std::string> Opened;  // every address handed to the shell opener
  platform::shell::Opener OldOpener;
};

// A control with the properties "Text" (text), "Checked" (Boolean enumeration) and
// "Width" (integer); like the window's edit fields and check box.
class FakeControl : public TvoControl {
 public:
  FakeControl(std::string name, std::string hint) : Name(std::move(name)), Hint(std::move(hint)) {}
  std::string ComponentName() const override { return Name; }
  std::string HintText() const override { return Hint; }
  std::int32_t Tag() const override { return TagValue; }
  void SetTag(std::int32_t v) override { TagValue = v; }
  std::vector<TvoPropInfo> PropInfos() const override {
    return {{"Text", TvoPropKind::Text, {}},
            {"Checked", TvoPropKind::Enumeration, {"False", "True"}},
            {"Width", TvoPropKind::Integer, {}}};
  }
  std::int64_t GetOrdProp(const TvoPropInfo& p) const override {
    if (p.Name == "Checked") return Checked ? 1 : 0;
    if (p.Name == "Width") return Width;
    throw std::runtime_error("no such property");
  }
  void SetOrdProp(const TvoPropInfo& p, std::int64_t v) override {
    if (p.Name == "Checked") Checked = v != 0;
    else if (p.Name == "Width") Width = v;
    else throw std::runtime_error("no such property");
  }
  std::string GetStrProp(const TvoPropInfo& p) const override {
    if (p.Name == "Text") return Text;
    throw std::runtime_error("no such property");
  }
  void SetStrProp(const TvoPropInfo& p, std::string_view v) override {
    if (p.Name == "Text") Text = v;
    else throw std::runtime_error("no such property");
  }

  std::string Name, Hint;
  std::int32_t TagValue = -1;
  std::string Text;
  bool Checked = false;
  std::int64_t Width = 0;
};

// Dialogs that answer from prepared queues (an empty optional cancels) and record
// how they were asked.
class FakeDialogs : public TvoDialogs {
 public:
  FakeDialogs() { Old = voSetDialogs(this); }
  ~FakeDialogs() override { voSetDialogs(Old); }

  bool BrowseFolder(const std::string& Start, std::string& Chosen) override {
    BrowseStarts.push_back(Start);
    return Answer(Folders, Chosen);
  }
  bool OpenFiles(const TvoFileDialogSetup& s, std::vector<std::string>& Chosen) override {
    OpenSetups.push_back(s);
    if (OpenAnswers.empty()) return false;
    auto a = OpenAnswers.front();
    OpenAnswers.pop_front();
    if (!a) return false;
    Chosen = *a;
    return true;
  }
  bool SaveFile(const TvoFileDialogSetup& s, std::string& Chosen) override {
    SaveSetups.push_back(s);
    return Answer(SaveAnswers, Chosen);
  }

  std::deque<std::optional<std::string>> Folders, SaveAnswers;
  std::deque<std::optional<std::vector<std::string>>> OpenAnswers;
  std::vector<std::string> BrowseStarts;
  std::vector<TvoFileDialogSetup> OpenSetups, SaveSetups;

 private:
  static bool Answer(std::deque<std::optional<std::string>>& q, std::string& out) {
    if (q.empty()) return false;
    auto a = q.front();
    q.pop_front();
    if (!a) return false;
    out = *a;
    return true;
  }
  TvoDialogs* Old = nullptr;
};

// The product constants as the converter module's start-up step sets them.
inline void SetProductConstants(TvoProject& p) {
  p.FSourceMask = "*.xls?";
  p.FSourceFilter = "Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx";
  p.FTargetExt = ".csv";
  p.FProductId = "tabrix";
  p.FProjectExt = ".batch-tabrix";
  p.FProjectFilter = "Tabrix Project|*.batch-tabrix";
  p.FTitle = "Tabrix Converter";
  p.FVersion = "2020.12.1118.2541";
}

}  // namespace coretest
