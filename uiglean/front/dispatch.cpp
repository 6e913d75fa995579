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
};

// Tested in this order; the first word that matches runs.
const Command kCommands[] = {
    {"tree", [] { cmdTree(); }},
    {"menus", [] { cmdMenus(); }},
    {"menuclick", [] { cmdMenuClick(); }},
    {"press", [] { cmdElementAction("press"); }},
    {"focus", [] { cmdElementAction("focus"); }},
    {"reveal", [] { cmdElementAction("reveal"); }},
    {"altui", [] { cmdElementAction("altui"); }},
    {"setvalue", [] { cmdSetValue(); }},
    {"activate", [] { cmdActivate(); }},
    {"windows", [] { cmdWindows(); }},
    {"focuswindow", [] { cmdFocusWindow(); }},
    {"settle", [] { cmdSettle(); }},
    {"ocr", [] { cmdOcr(); }},
    {"world", [] { cmdWorld(); }},
};

}  // namespace

void runUiglean(std::vector<std::string> arguments) {
  startGlobals(std::move(arguments));
  if (!axIsProcessTrusted()) fail("not trusted for accessibility", 2);
  for (const auto& command : kCommands) {
    if (subcommand == command.word) {
      command.run();
      fail("internal error: subcommand returned", 4);
    }
  }
  fail("unknown subcommand \"" + subcommand + "\"", 5);
}

}  // namespace uiglean
