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

// The entry of a .desktop file (at most its first megabyte is read); nothing when it cannot be
// read or has no [Desktop Entry] group.
std::optional<DesktopEntry> readDesktopFile(const std::string& path);

// Every .desktop file in $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS/applications; an ID
// found in an earlier folder hides the same ID in later ones. Read once, and again after
// recheckDesktopEntries() when one of those folders changed since (a new run of a long-lived
// process: an application installed or removed in between).
const std::vector<DesktopEntry>& desktopEntries();
void recheckDesktopEntries();

// The installed, launchable application a query names: the entry whose desktop-file ID equals it,
// else whose Name= or program name (the Exec line's first word without its folder) equals it
// ignoring case. Hidden entries and entries of other types are not launchable; NoDisplay ones
// only by their ID (the identity a running application was reported with).
const DesktopEntry* launchableEntry(const std::string& query);

// The argument vector of an Exec line by the Desktop Entry rules: the value's escapes (backslash
// s, n, t, r and backslash), then words split at blanks, double-quoted words with backslash
// escapes of the quote, backquote, dollar and backslash inside, and the field codes removed (%f %F %u %U %i %c %k and the deprecated ones; %%
// is a percent sign; an argument that was only a field code goes). Nothing when the line is
// malformed (an unterminated quote, a reserved character outside quotes) or empty.
std::optional<std::vector<std::string>> execArguments(const std::string& exec);

// Starts argv[0] (looked up in PATH) with those arguments, detached: a session of its own, the
// standard streams on /dev/null, no shell, reaped so that it never becomes our zombie. With
// `desktopFile`, the program's environment records it as the launcher's (GIO_LAUNCHED_DESKTOP_FILE
// and GIO_LAUNCHED_DESKTOP_FILE_PID), so that the process is known as that application whatever
// its windows say. False when it could not be started.
bool launchDetached(const std::vector<std::string>& argv, const std::string& desktopFile = {});

}  // namespace uiglean::lx
