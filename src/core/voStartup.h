// Start-up and tear-down of the program: the process-wide objects in their fixed
// order, the command line, and the choice between the unattended run and the
// window. Every end runs the tear-down in the reverse order of creation.
#pragma once

#include <functional>

// The windowed start: creates the windows, runs the message loop until the main
// window closes and returns the exit status. The window module installs it; without
// one a windowed start says so on standard error and ends with kNoWindowStatus.
//
// The windows may outlive the runner: the project resets the tags of its registered
// controls when it is freed, so the controls must still exist then (or have been
// unregistered with TvoProject::UnregisterControl). A window tear-down, when
// installed, runs last, after the application object is freed: that is where the
// toolkit's application and its windows go.
using TvoWindowRunner = std::function<int()>;
TvoWindowRunner voSetWindowRunner(TvoWindowRunner Runner);
using TvoWindowTearDown = std::function<void()>;
TvoWindowTearDown voSetWindowTearDown(TvoWindowTearDown TearDown);

// Exit status of a windowed start in a build without the window.
inline constexpr int kNoWindowStatus = 2;
// Exit status when an error escapes start-up or the unattended run.
inline constexpr int kFailureStatus = 1;

// The whole life of the process: start-up steps, the unattended run or the
// window, tear-down. Returns the exit status (0 for every normal end). Usable from
// tests: it leaves every global empty when it returns.
int voRun(int argc, char** argv);
