// "activate": bring an application to the front, launching it when it is not running.
#include "uiglean/apps/activate.h"

#include "uiglean/front/casefold.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"

namespace uiglean {

std::optional<RunningApp> runningAppMatching(const std::vector<RunningApp>& apps,
                                             const std::string& query) {
  for (const auto& app : apps) {
    if (app.bundleIdentifier && equalsIgnoringCase(*app.bundleIdentifier, query)) return app;
  }
  for (const auto& app : apps) {
    if (app.localizedName && equalsIgnoringCase(*app.localizedName, query)) return app;
  }
  for (const auto& app : apps) {
    if (app.localizedName && containsIgnoringCase(*app.localizedName, query)) return app;
  }
  return std::nullopt;
}

std::optional<RunningApp> runningAppMatching(const std::string& query) {
  return runningAppMatching(runningApplications(), query);
}

namespace {

// Where an installed application named by the query lives: by bundle identifier first, then
// under the two application folders.
std::optional<std::string> installedApplication(const std::string& query) {
  if (auto url = urlForApplicationWithBundleIdentifier(query)) return url;
  for (const char* folder : {"/Applications/", "/System/Applications/"}) {
    std::string path = folder + query + ".app";
    if (fileExistsAtPath(path)) return path;
  }
  return std::nullopt;
}

bool frontMatches(const RunningApp& front, const std::string& query) {
  if (front.bundleIdentifier && equalsIgnoringCase(*front.bundleIdentifier, query)) return true;
  return front.localizedName && containsIgnoringCase(*front.localizedName, query);
}

}  // namespace

void cmdActivate() {
  if (args.size() < 2) fail("activate needs an app name or bundle id", 5);
  const std::string& query = args[1];

  if (auto app = runningAppMatching(query)) {
    activateApplication(*app, activateAllWindows);
  } else {
    auto url = installedApplication(query);
    if (!url) emit(errorResult("no app matching \"" + query + "\" is running or installed"));
    openApplicationAtURL(*url, true);
  }

  for (int poll = 0; poll < ACTIVATE_POLLS; ++poll) {
    sleepMicros(ACTIVATE_POLL_MICROS);
    auto front = frontmostApplication();
    if (front && frontMatches(*front, query)) emit(okResult());
  }
  emit(errorResult("\"" + query + "\" did not come to the front within 2s"));
}

}  // namespace uiglean
