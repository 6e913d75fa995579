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

const std::optional<std::string>& installedUrlOf(InstalledUrls& known,
                                                 const std::string& bundleId) {
  auto it = known.find(bundleId);
  if (it == known.end()) {
    it = known.emplace(bundleId, urlForApplicationWithBundleIdentifier(bundleId)).first;
  }
  return it->second;
}

std::optional<RunningApp> runningAppInstalledAt(const std::vector<RunningApp>& apps,
                                                const std::string& url, InstalledUrls& urls) {
  for (const auto& app : apps) {
    if (app.bundleIdentifier && installedUrlOf(urls, *app.bundleIdentifier) == url) return app;
  }
  return std::nullopt;
}

void cmdActivate() {
  if (args.size() < 2) fail("activate needs an app name or bundle id", 5);
  const std::string& query = args[1];

  // What the front poll also accepts besides the query's own match: the application that was
  // activated, or one of the application that was launched.
  std::optional<std::int32_t> activatedPid;
  std::optional<std::string> launchedUrl;
  InstalledUrls urls;
  std::vector<RunningApp> running = runningApplications();
  auto app = runningAppMatching(running, query);
  std::optional<std::string> url;
  if (!app) {
    url = installedApplication(query);
    if (!url) emit(errorResult("no app matching \"" + query + "\" is running or installed"));
    // The query named the installed application by another of its names: a running copy of it
    // is brought to the front, never a second one started.
    app = runningAppInstalledAt(running, *url, urls);
  }
  if (app) {
    activateApplication(*app, activateAllWindows);
    activatedPid = app->pid;
  } else {
    openApplicationAtURL(*url, true);
    launchedUrl = url;
  }

  for (int poll = 0; poll < ACTIVATE_POLLS; ++poll) {
    sleepMicros(ACTIVATE_POLL_MICROS);
    auto front = frontmostApplication();
    if (!front) continue;
    if (frontMatches(*front, query) || front->pid == activatedPid) emit(okResult());
    if (launchedUrl && front->bundleIdentifier &&
        installedUrlOf(urls, *front->bundleIdentifier) == launchedUrl) {
      emit(okResult());
    }
  }
  emit(errorResult("\"" + query + "\" did not come to the front within 2s"));
}

}  // namespace uiglean
