// Finding a running application by what a caller typed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"

namespace uiglean {

// The front poll of "activate": this many looks, each after one pause.
inline constexpr int ACTIVATE_POLLS = 20;
inline constexpr std::uint32_t ACTIVATE_POLL_MICROS = 100000;

// The first of `apps` whose bundle identifier equals the query ignoring case; else the first
// whose name equals it; else the first whose name contains it.
std::optional<RunningApp> runningAppMatching(const std::vector<RunningApp>& apps,
                                             const std::string& query);
// Where the installed application of each bundle identifier lives, as far as one run asked.
using InstalledUrls = std::map<std::string, std::optional<std::string>>;
// The installed application of a bundle identifier, asked of the system once per identifier.
const std::optional<std::string>& installedUrlOf(InstalledUrls& known, const std::string& bundleId);

// The first of `apps` whose bundle identifier names the installed application at `url`: the
// running copy of an application the caller named by another of its names.
std::optional<RunningApp> runningAppInstalledAt(const std::vector<RunningApp>& apps,
                                                const std::string& url, InstalledUrls& urls);
// The same over the system's running applications.
std::optional<RunningApp> runningAppMatching(const std::string& query);

}  // namespace uiglean
