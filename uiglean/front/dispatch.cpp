#include <exception>
#include <utility>

#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"

namespace uiglean {

FrontApp requireFrontmostApp() {
  auto front = frontmostApp();
  if (!front) fail("no frontmost app", 3);
  return std::move(*front);
}

namespace {

struct Command {
  const char* word;
  void (*run)();
  // How long the command may wait on applications: walks over their elements stop after this
  // many seconds, and no wait goes on more than RUN_FINISH_SECONDS longer (0: no limit, for
  // commands that ask no application anything). Each is a few times what the command takes on
  // a large application that answers, and more than its messaging timeout plus the probe that
  // tells a slow call from a hung application.
  double walkSeconds;
};

// Tested in this order; the first word that matches runs.
const Command kCommands[] = {
    {"tree", [] { cmdTree(); }, 8},
    {"menus", [] { cmdMenus(); }, 8},
    {"menuclick", [] { cmdMenuClick(); }, 13},
    {"press", [] { cmdElementAction("press"); }, 10},
    {"focus", [] { cmdElementAction("focus"); }, 10},
    {"reveal", [] { cmdElementAction("reveal"); }, 10},
    {"altui", [] { cmdElementAction("altui"); }, 10},
    {"setvalue", [] { cmdSetValue(); }, 13},
    {"activate", [] { cmdActivate(); }, 8},
    {"windows", [] { cmdWindows(); }, 6},
    {"focuswindow", [] { cmdFocusWindow(); }, 8},
    // The wait itself is the caller's; this bounds setting up the observer before it.
    {"settle", [] { cmdSettle(); }, 3},
    {"ocr", [] { cmdOcr(); }, 0},
    {"world", [] { cmdWorld(); }, 8},
    // Key strokes and typing ask no application anything; a click or scroll at a ref resolves
    // it first, a screenshot of the front window finds that window.
    {"key", [] { cmdKey(); }, 0},
    {"type", [] { cmdType(); }, 0},
    {"click", [] { cmdClick(); }, 10},
    {"scroll", [] { cmdScroll(); }, 10},
    {"screenshot", [] { cmdScreenshot(); }, 8},
};

}  // namespace

namespace {

// One run up to its end in emit or fail.
[[noreturn]] void dispatch(std::vector<std::string> arguments,
                           const std::function<void()>& afterStart) {
  startGlobals(std::move(arguments));
  if (afterStart) afterStart();
  const Command* chosen = nullptr;
  for (const auto& command : kCommands) {
    if (subcommand == command.word) {
      chosen = &command;
      break;
    }
  }
  // The clock starts before the buses are reached: finding them is part of the run.
  if (chosen != nullptr) startRunClock(chosen->walkSeconds);
  if (!axIsProcessTrusted()) fail("not trusted for accessibility", 2);
  if (chosen == nullptr) fail("unknown subcommand \"" + subcommand + "\"", 5);
  chosen->run();
  fail("internal error: subcommand returned", 4);
}

}  // namespace

void runUiglean(std::vector<std::string> arguments) { dispatch(std::move(arguments), {}); }

RunOutcome runCaptured(std::vector<std::string> arguments, const std::function<void()>& afterStart) {
  platformNewRun();
  setCapture(true);
  RunOutcome outcome;
  try {
    dispatch(std::move(arguments), afterStart);
  } catch (RunOutcome& ended) {
    outcome = std::move(ended);
  } catch (const std::exception& e) {
    outcome = RunOutcome{4, std::string(), "internal error: " + escapeControls(sanitizeUtf8(e.what()))};
  }
  setCapture(false);
  return outcome;
}

}  // namespace uiglean
