// File helpers: whole-file reading and writing, times, attributes, listings.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/file.h"

namespace {

namespace file = platform::file;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = (std::filesystem::temp_directory_path() /
           ("tabrix-file-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name()))
              .string();
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::string Dir;
};

TEST_F(FileTest, WriteAndReadWholeFiles) {
  std::string p = Dir + "/a.bin";
  std::string data("x\0y\r\n", 5);
  file::write_all(p, data);
  EXPECT_EQ(file::read_all(p), data);
  file::write_all(p, "");
  EXPECT_EQ(file::read_all(p), "") << "truncated";
  file::write_all_atomic(p, "whole");
  EXPECT_EQ(file::read_all(p), "whole");
  auto left = std::distance(std::filesystem::directory_iterator(Dir), {});
  EXPECT_EQ(left, 1) << "no temporary file stays behind";
}

TEST_F(FileTest, FailuresAreFileErrorsWithThePath) {
  try {
    file::read_all(Dir + "/missing");
    FAIL() << "no error";
  } catch (const platform::FileError& e) {
    EXPECT_NE(std::string(e.what()).find(Dir + "/missing"), std::string::npos);
    EXPECT_EQ(e.code(), ENOENT);
  }
  EXPECT_THROW(file::read_all(Dir), platform::FileError);
  EXPECT_THROW(file::write_all(Dir + "/no/such/dir/f", "x"), platform::FileError);
  try {
    file::write_all_atomic(Dir + "/no/such/dir/f", "x");
    FAIL() << "no error";
  } catch (const platform::FileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + Dir + "/no/such/dir/f\".", 0), 0u) << e.what();
    EXPECT_EQ(e.code(), ENOENT);
  }
}

TEST_F(FileTest, MoveNeverReplacesAndRemoveReportsFailure) {
  file::write_all(Dir + "/a", "a");
  file::write_all(Dir + "/b", "b");
  EXPECT_FALSE(file::move_file(Dir + "/a", Dir + "/b"));
  EXPECT_EQ(file::read_all(Dir + "/b"), "b");
  EXPECT_TRUE(file::move_file(Dir + "/a", Dir + "/c"));
  EXPECT_EQ(file::read_all(Dir + "/c"), "a");
  EXPECT_TRUE(file::remove_file(Dir + "/c"));
  EXPECT_FALSE(file::remove_file(Dir + "/c"));
}

TEST_F(FileTest, TimesCanBeReadAndSet) {
  std::string p = Dir + "/t";
  file::write_all(p, "x");
  file::Times t{};
  t.access.tv_sec = 1600000000;
  t.modification.tv_sec = 1500000000;
  ASSERT_TRUE(file::set_times(p, t));
  auto got = file::get_times(p);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->modification.tv_sec, 1500000000);
  EXPECT_EQ(got->access.tv_sec, 1600000000);
  EXPECT_FALSE(file::get_times(Dir + "/missing").has_value());
}

TEST_F(FileTest, ReadOnlyAttribute) {
  std::string p = Dir + "/r";
  file::write_all(p, "x");
  EXPECT_FALSE(file::is_read_only(p));
  EXPECT_TRUE(file::set_read_only(p, true));
  EXPECT_TRUE(file::is_read_only(p));
  EXPECT_TRUE(file::set_read_only(p, false));
  EXPECT_FALSE(file::is_read_only(p));
  EXPECT_FALSE(file::set_read_only(Dir + "/missing", true));
}

TEST_F(FileTest, ListDirShowsFilesFoldersAndLinks) {
  file::write_all(Dir + "/f", "x");
  std::filesystem::create_directory(Dir + "/d");
  std::filesystem::create_directory_symlink(Dir + "/d", Dir + "/ld");
  auto entries = file::list_dir(Dir);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "d");
  EXPECT_TRUE(entries[0].is_dir);
  EXPECT_EQ(entries[1].name, "f");
  EXPECT_FALSE(entries[1].is_dir);
  EXPECT_EQ(entries[2].name, "ld");
  EXPECT_TRUE(entries[2].is_dir);
  EXPECT_TRUE(entries[2].is_symlink);
  EXPECT_TRUE(file::list_dir(Dir + "/missing").empty());
  EXPECT_EQ(file::file_id(Dir + "/ld"), file::file_id(Dir + "/d"));
}

}  // namespace
