#include "convert/convert_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "convert/voTabrix.h"
#include "core/voInfo.h"
#include "core/voProject.h"
#include "platform/path.h"
#include "platform/shell.h"
#include "platform/thread.h"

namespace tabrix_test {

void WriteFile(const std::string& path, const std::string& content) {
  platform::path::make_dirs(platform::path::folder_part(path));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) { return platform::path::exists(path); }

MainLoop::MainLoop() {
  platform::Thread::set_main_thread_hook([this](const std::function<void()>& fn) {
    Item item{fn};
    std::unique_lock lock(lock_);
    queue_.push_back(&item);
    cv_.notify_all();
    cv_.wait(lock, [&] { return item.done; });
  });
}

MainLoop::~MainLoop() { platform::Thread::set_main_thread_hook(nullptr); }

void MainLoop::Wake() {
  std::lock_guard lock(lock_);
  cv_.notify_all();
}

void MainLoop::Serve(const std::function<bool()>& done) {
  std::unique_lock lock(lock_);
  for (;;) {
    while (!queue_.empty()) {
      Item* item = queue_.front();
      queue_.pop_front();
      lock.unlock();
      item->fn();
      lock.lock();
      item->done = true;
      cv_.notify_all();
    }
    lock.unlock();
    const bool finished = done();
    lock.lock();
    if (finished && queue_.empty()) return;
    cv_.wait_for(lock, std::chrono::milliseconds(5));
  }
}

void ConvertEnv::SetUp() {
  std::string templ = (std::filesystem::temp_directory_path() / "tabrix-convert-XXXXXX").string();
  ASSERT_NE(mkdtemp(templ.data()), nullptr);
  dir_ = templ + "/";
  in_ = dir_ + "in/";
  out_ = dir_ + "out/";
  platform::path::make_dirs(in_);
  platform::path::set_program_file_for_testing(dir_ + "prog/tabrix");
  platform::path::make_dirs(dir_ + "prog");

  voProject = new TvoProject();
  voTabrixStartup(*voProject);
  voInfo = new TvoInfo();
  platform::shell::set_opener([this](const std::string& address) {
    std::lock_guard lock(links_lock_);
    links_.push_back(address);
  });
  excel_ = ScriptedExcel::Install();
}

void ConvertEnv::TearDown() {
  excel_.reset();
  platform::shell::set_opener(nullptr);
  delete voInfo;
  voInfo = nullptr;
  delete voProject;
  voProject = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void ConvertEnv::Options(const std::vector<std::string>& lines) {
  for (const auto& l : lines) {
    const auto eq = l.find('=');
    voProject->SetValue(l.substr(0, eq), l.substr(eq + 1));
  }
}

std::shared_ptr<TvoBatch> ConvertEnv::BatchOf(const std::vector<std::string>& files, const std::string& source_dir) {
  auto batch = std::make_shared<TvoBatch>();
  if (files.empty()) {
    // A search of an empty folder: the batch ends up searched and empty.
    platform::path::make_dirs(dir_ + "empty/");
    batch->Start(dir_ + "empty/*.xls", out_, false);
    batch->wait();
  }
  batch->SourceDir = source_dir;
  for (const auto& f : files) batch->AddFile(f);
  return batch;
}

void ConvertEnv::WaitChain(const std::shared_ptr<TvoConvertor>& first) {
  for (TvoConvertor* w = first.get(); w; w = w->NextWorker().get()) w->wait();
}

std::shared_ptr<TvoConvertor> ConvertEnv::RunChain(const std::shared_ptr<TvoBatch>& batch) {
  auto first = TvoConvertor::CreateWorkers(batch, out_, [this](TvoBatch*, TvoNode* node) {
    std::lock_guard lock(reports_lock_);
    reports_.push_back(std::to_string(node->Status) + "|" + node->SourceFile + "|" + node->ResultText);
  });
  first->StartChain();
  WaitChain(first);
  return first;
}

TvoNode ConvertEnv::ConvertOne(const std::string& source, const std::string& source_dir) {
  auto batch = BatchOf({source}, source_dir);
  RunChain(batch);
  TvoNodeList& list = batch->LockList();
  TvoNode node = *list.at(0);
  batch->UnlockList();
  return node;
}

}  // namespace tabrix_test
