// The shell opener: a replaceable recorder, and the default that starts xdg-open
// without a shell with the address as its one argument.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/shell.h"

namespace {

namespace shell = platform::shell;

TEST(Shell, AnInstalledOpenerReceivesTheTargetAndCanBeRemoved) {
  std::vector<std::string> seen;
  auto old = shell::set_opener([&seen](const std::string& t) { seen.push_back(t); });
  shell::open("http://www.tabrix.example/?a=1&b=2");
  EXPECT_EQ(seen, std::vector<std::string>{"http://www.tabrix.example/?a=1&b=2"});
  auto mine = shell::set_opener(old);
  EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(Shell, FailuresOfTheOpenerAreNotReported) {
  auto old = shell::set_opener([](const std::string&) { throw std::runtime_error("no browser"); });
  EXPECT_NO_THROW(shell::open("mailto:x@tabrix.example"));
  shell::set_opener(old);
}

// A stand-in xdg-open on PATH records its arguments; the address must arrive as
// exactly one argument, untouched by any shell.
TEST(Shell, TheDefaultOpenerPassesTheAddressAsOneArgument) {
  auto dir = std::filesystem::temp_directory_path() / ("tabrix-shell-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string out = (dir / "args").string();
  std::string marker = (dir / "pwned").string();
  {
    std::ofstream script(dir / "xdg-open");
    script << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" << out << ".tmp'\nmv '" << out << ".tmp' '" << out
           << "'\n";
  }
  std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
  const char* old_path = std::getenv("PATH");
  std::string saved = old_path ? old_path : "";
  setenv("PATH", (dir.string() + ":" + saved).c_str(), 1);

  auto old = shell::set_opener(nullptr);
  const std::string address = "http://x.example/?e=a b;touch " + marker + "&$(touch " + marker + ")`id`";
  shell::open(address);
  shell::set_opener(old);
  setenv("PATH", saved.c_str(), 1);

  // The child runs detached; wait for its record (bounded, not a timing assertion).
  for (int i = 0; i < 1000 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(out)) << "the stand-in opener never ran";
  std::ifstream in(out);
  std::string count, arg;
  std::getline(in, count);
  std::getline(in, arg);
  EXPECT_EQ(count, "1");
  EXPECT_EQ(arg, address);
  EXPECT_FALSE(std::filesystem::exists(marker));
  std::filesystem::remove_all(dir);
}

}  // namespace
