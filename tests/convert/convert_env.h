// The environment of the conversion tests: a temporary folder with the program
// file, the store and the source and target folders; the process-wide project and
// store; the scripted spreadsheet application; a recorder of opened links; and a
// small "main thread" that serves Thread::synchronize while a chain runs.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/voBatch.h"
#include "convert/scripted_excel.h"
#include "convert/voConvertor.h"

namespace tabrix_test {

// Writes a file (creating its folder) with the given content.
void WriteFile(const std::string& path, const std::string& content = "workbook");
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Serves the main-thread hook on the thread that calls Serve: a worker that calls
// Thread::synchronize hands its function over and waits until it has run here.
class MainLoop {
 public:
  MainLoop();
  ~MainLoop();
  // Runs handed-over functions until done() is true (checked after each one and
  // whenever the loop is woken by Wake).
  void Serve(const std::function<bool()>& done);
  void Wake();

 private:
  struct Item {
    std::function<void()> fn;
    bool done = false;
  };
  std::mutex lock_;
  std::condition_variable cv_;
  std::deque<Item*> queue_;
};

class ConvertEnv : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Sets project options (name=value lines).
  void Options(const std::vector<std::string>& lines);
  // A batch holding the given files (added by hand, so the batch counts as
  // searched), with SourceDir set to source_dir when not empty.
  std::shared_ptr<TvoBatch> BatchOf(const std::vector<std::string>& files, const std::string& source_dir = {});
  // Builds the chain on the batch (target folder target_), starts it and waits
  // until every worker has ended. Reports are collected in reports_.
  std::shared_ptr<TvoConvertor> RunChain(const std::shared_ptr<TvoBatch>& batch);
  // Waits until every worker of a started chain has ended.
  static void WaitChain(const std::shared_ptr<TvoConvertor>& first);
  // One worker converting one entry on its own thread; returns the entry.
  TvoNode ConvertOne(const std::string& source, const std::string& source_dir = {});

  std::string dir_;     // the temporary folder, ending with "/"
  std::string in_;      // dir_ + "in/"
  std::string out_;     // dir_ + "out/"
  std::shared_ptr<ScriptedExcel> excel_;
  std::mutex reports_lock_;
  std::vector<std::string> reports_;  // "<status>|<source>|<result>", in report order
  std::vector<std::string> links_;    // addresses given to the shell opener

 private:
  std::mutex links_lock_;
};

}  // namespace tabrix_test
