// The workspace: the applications on the accessibility bus, which one is frontmost, and what they
// are called.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uiglean::lx {

struct AccessibleApp {
  std::string bus;         // unique name on the accessibility bus
  std::int32_t pid = 0;    // 0 when the bus daemon would not say
  std::string name;        // the accessible name of its root, possibly empty
  std::string toolkit;     // ToolkitName ("GTK", "Qt", "Chromium", "Gecko", ...)
  std::string toolkitVersion;  // ToolkitVersion ("4.8.3")
  std::int32_t childCount = 0;
};

// The applications registered on the accessibility bus, listed once per run (again when
// `refresh`), in the registry's order.
const std::vector<AccessibleApp>& accessibleApps(bool refresh = false);
// The next accessibleApps() lists them again (a new run).
void forgetAccessibleApps();

// The bus name of the accessible application of that process ("" when it has none). When a
// process has several, the one with the most top-level objects.
std::string busForPid(std::int32_t pid);
const AccessibleApp* appForBus(const std::string& bus);

// The application's name: its accessible name, else its process name.
std::string applicationName(const std::string& bus);
// True for browser engines, whose pages need every object asked for its actions.
bool isWebToolkit(const std::string& bus);

// Switches a browser's page content on (browsers expose their pages only once some client asks
// an object for its attributes) and waits for the page to appear; true when the application
// answered.
bool enableWebContent(const std::string& bus);

// True for GTK 4 and later (ToolkitName GTK, Version 4 or above).
bool isGtk4OrLater(const std::string& bus);
// True for GTK 3 (Version 3.x).
bool isGtk3(const std::string& bus);
// True for toolkits that give extents relative to the window whatever coordinates are asked for
// (GTK 4, which also never sets the showing state).
bool extentsRelativeToWindow(const std::string& bus);

// True for toolkits known to answer Properties.GetAll (Qt 5 crashes on it): the others are asked
// one property at a time.
bool answersGetAll(const std::string& bus);

// The process name (/proc/PID/comm), or "" when the process is gone.
std::string processName(std::int32_t pid);

}  // namespace uiglean::lx
