// The subcommand bodies. Each reads the command line from `args` and ends the process in emit or
// fail; none returns.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "uiglean/ax/readers.h"
#include "uiglean/front/output.h"

namespace uiglean {

[[noreturn]] void cmdTree();
// "press", "focus", "reveal" and "altui": one body, differing only in what is done.
[[noreturn]] void cmdElementAction(const std::string& word);
[[noreturn]] void cmdSetValue();
[[noreturn]] void cmdSettle();
[[noreturn]] void cmdMenus();
[[noreturn]] void cmdMenuClick();
[[noreturn]] void cmdActivate();
[[noreturn]] void cmdWindows();
[[noreturn]] void cmdFocusWindow();
[[noreturn]] void cmdOcr();
[[noreturn]] void cmdWorld();
// Synthesized input and screen capture (uiglean/input).
[[noreturn]] void cmdKey();
[[noreturn]] void cmdType();
[[noreturn]] void cmdClick();
[[noreturn]] void cmdScroll();
[[noreturn]] void cmdScreenshot();

// The frontmost application, or fail with "no frontmost app" (status 3).
FrontApp requireFrontmostApp();

// Start-up and dispatch; `arguments` is the command line without the program name.
[[noreturn]] void runUiglean(std::vector<std::string> arguments);

// The same run inside a process that goes on: starts a new run on the platform (platformNewRun),
// runs the subcommand and returns how it ended instead of writing it and exiting. Any other
// exception that escapes the subcommand is status 4, "internal error: ...". `afterStart`, when
// given, runs right after the globals got their start values (to lower a limit for this run).
RunOutcome runCaptured(std::vector<std::string> arguments,
                       const std::function<void()>& afterStart = {});

}  // namespace uiglean
