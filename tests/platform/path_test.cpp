// Path rules of this platform.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/path.h"

namespace {

namespace path = platform::path;

struct PartsCase {
  const char* path;
  const char* folder;
  const char* name;
  const char* ext;
};

class PathPartsTest : public ::testing::TestWithParam<PartsCase> {};

TEST_P(PathPartsTest, SplitsAtTheLastDelimiter) {
  const auto& c = GetParam();
  EXPECT_EQ(path::folder_part(c.path), c.folder);
  EXPECT_EQ(path::file_name_part(c.path), c.name);
  EXPECT_EQ(path::extension(c.path), c.ext);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathPartsTest,
                         ::testing::Values(PartsCase{"/in/sub/a.xlsx", "/in/sub/", "a.xlsx", ".xlsx"},
                                           PartsCase{"/in/*.xls?", "/in/", "*.xls?", ".xls?"},
                                           PartsCase{"a.tar.gz", "", "a.tar.gz", ".gz"},
                                           PartsCase{"/in.d/book", "/in.d/", "book", ""},
                                           PartsCase{"/in/", "/in/", "", ""}, PartsCase{"/", "/", "", ""},
                                           PartsCase{"", "", "", ""},
                                           PartsCase{"C:\\In\\a.xls", "", "C:\\In\\a.xls", ".xls"},
                                           PartsCase{"/d/c:a.xls", "/d/", "c:a.xls", ".xls"}));

TEST(Path, ChangeExtensionReplacesOrAppends) {
  EXPECT_EQ(path::change_extension("/opt/tabrix", ".ext"), "/opt/tabrix.ext");
  EXPECT_EQ(path::change_extension("/opt/tabrix.bin", ".ext"), "/opt/tabrix.ext");
  EXPECT_EQ(path::change_extension("/opt.d/tabrix", ".batch-tabrix"), "/opt.d/tabrix.batch-tabrix");
}

TEST(Path, TrailingDelimitersAndJoining) {
  EXPECT_EQ(path::include_trailing_delim("/out"), "/out/");
  EXPECT_EQ(path::include_trailing_delim("/out/"), "/out/");
  EXPECT_EQ(path::include_trailing_delim(""), "/");
  EXPECT_EQ(path::exclude_trailing_delim("/out/"), "/out");
  EXPECT_EQ(path::exclude_trailing_delim("/"), "/");
  EXPECT_EQ(path::join("/out/", "/a.csv"), "/out/a.csv");
  EXPECT_EQ(path::join("/out", "a.csv"), "/out/a.csv");
  EXPECT_EQ(path::join("", "a.csv"), "a.csv");
}

TEST(Path, MakeDirsCreatesEveryLevelAndReportsFailure) {
  auto base = std::filesystem::temp_directory_path() / ("tabrix-path-" + std::to_string(::getpid()));
  std::filesystem::remove_all(base);
  std::string deep = (base / "a" / "b" / "c").string() + "/";
  EXPECT_TRUE(path::make_dirs(deep));
  EXPECT_TRUE(path::dir_exists(deep));
  EXPECT_TRUE(path::make_dirs(deep)) << "an existing folder is fine";
  std::string file = (base / "f").string();
  { std::FILE* f = std::fopen(file.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  EXPECT_FALSE(path::make_dirs(file + "/sub"));
  EXPECT_FALSE(path::make_dirs(""));
  EXPECT_TRUE(path::file_exists(file));
  EXPECT_FALSE(path::dir_exists(file));
  std::filesystem::remove_all(base);
}

TEST(Path, ProgramFileComesFromTheProcessUnlessReplaced) {
  std::string real = path::program_file();
  ASSERT_FALSE(real.empty());
  EXPECT_TRUE(path::is_absolute(real));
  EXPECT_TRUE(path::file_exists(real));
  path::set_program_file_for_testing("/opt/x/tabrix");
  EXPECT_EQ(path::program_file(), "/opt/x/tabrix");
  path::set_program_file_for_testing("");
  EXPECT_EQ(path::program_file(), real);
}

}  // namespace
