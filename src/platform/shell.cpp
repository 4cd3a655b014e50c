#include "platform/shell.h"

#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::shell {

namespace {

std::mutex g_mutex;
Opener g_opener;

void xdg_open(const std::string& target) {
  std::string program = "xdg-open";
  std::string arg = target;
  char* argv[] = {program.data(), arg.data(), nullptr};
  pid_t pid = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", 0, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", 1, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 1, 0);
  int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  // Reap the child in the background so that it never stays a zombie.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
}

}  // namespace

void open(const std::string& target) {
  Opener opener;
  {
    std::lock_guard lock(g_mutex);
    opener = g_opener;
  }
  try {
    if (opener)
      opener(target);
    else
      xdg_open(target);
  } catch (...) {
    // The outcome of opening is never reported.
  }
}

Opener set_opener(Opener opener) {
  std::lock_guard lock(g_mutex);
  Opener old = std::move(g_opener);
  g_opener = std::move(opener);
  return old;
}

}  // namespace platform::shell
