#include "core/voStartup.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>

#include "batch/voMatch.h"
#include "convert/voTabrix.h"
#include "core/voApp.h"
#include "core/voFileUtils.h"
#include "core/voInfo.h"
#include "core/voMain.h"
#include "core/voProject.h"
#include "platform/text.h"

namespace {

std::mutex g_runner_mutex;
TvoWindowRunner g_window_runner;
TvoWindowTearDown g_window_teardown;

// Frees whatever start-up created, in the reverse order of creation; runs on
// every way out of voRun.
struct TvoTearDown {
  ~TvoTearDown() {
    delete Matcher;
    Matcher = nullptr;
    delete voMain;
    voMain = nullptr;
    delete voProject;  // writes the recent list
    voProject = nullptr;
    delete voInfo;  // writes the store
    voInfo = nullptr;
    voReleaseDialogs();
    delete voApp;
    voApp = nullptr;
    TvoWindowTearDown windows;
    {
      std::lock_guard lock(g_runner_mutex);
      windows = g_window_teardown;
    }
    if (windows) {
      try {
        windows();
      } catch (...) {
      }
    }
  }
};

int RunWindow() {
  TvoWindowRunner runner;
  {
    std::lock_guard lock(g_runner_mutex);
    runner = g_window_runner;
  }
  if (runner) return runner();
  std::fputs("tabrix: the window is not available in this build; use a project with PureConsole=1\n", stderr);
  return kNoWindowStatus;
}

}  // namespace

TvoWindowRunner voSetWindowRunner(TvoWindowRunner Runner) {
  std::lock_guard lock(g_runner_mutex);
  return std::exchange(g_window_runner, std::move(Runner));
}

TvoWindowTearDown voSetWindowTearDown(TvoWindowTearDown TearDown) {
  std::lock_guard lock(g_runner_mutex);
  return std::exchange(g_window_teardown, std::move(TearDown));
}

int voRun(int argc, char** argv) {
  TvoTearDown teardown;
  try {
    voApp = new TvoApp(argc, argv);
    voInfo = new TvoInfo;
    voProject = new TvoProject;
    voMain = new TvoMain;
    voTabrixStartup(*voProject);
    // The notification switches end the process here, before any window.
    if (!voProject->ReadCommandLine()) return 0;
    Matcher = new TvoMatch;
    if (voProject->PureConsole() && !platform::text::contains(voProject->Source(), "http")) {
      voMain->Run();
      return 0;
    }
    return RunWindow();
  } catch (const std::exception& e) {
    // The last resort: the error goes to standard error, the tear-down still runs.
    std::fprintf(stderr, "tabrix: %s\n", e.what());
    return kFailureStatus;
  } catch (...) {
    std::fputs("tabrix: unexpected error\n", stderr);
    return kFailureStatus;
  }
}
