// Installed applications: the .desktop files of the XDG data folders.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace uiglean::lx {

struct DesktopEntry {
  std::string id;    // the desktop-file ID: the path below applications/, '/' as '-', no suffix
  std::string path;  // the file
  std::string name;  // Name=
  std::string exec;  // Exec=
  std::string startupWMClass;
  bool hidden = false;     // Hidden=true
  bool noDisplay = false;  // NoDisplay=true
  bool isApplication = true;  // Type=Application (or no Type)
};

// The [Desktop Entry] group of a .desktop file's text; nothing when it has none.
std::optional<DesktopEntry> parseDesktopEntry(const std::string& text);

// Every .desktop file in $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS/applications, read
// once per run; an ID found in an earlier folder hides the same ID in later ones.
const std::vector<DesktopEntry>& desktopEntries();

// The desktop-file ID of an application whose window has this WM_CLASS: the entry whose
// StartupWMClass equals the class or instance, else whose ID does (ignoring ASCII case).
std::optional<std::string> desktopIdForClass(const std::string& instance, const std::string& klass);

}  // namespace uiglean::lx
