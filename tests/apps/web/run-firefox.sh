#!/usr/bin/env bash
# Runs Debian's Firefox ESR on a page for the desktop tests, cut off from the network.
#
#   tests/apps/web/run-firefox.sh URL_OR_FILE [EXTRA FIREFOX ARGS...]
#
# As run-chromium.sh: a FILE is opened as a file:// URL, in a network namespace of its own
# (unshare -n), with a fresh profile under $TMPDIR whose preferences skip every first-run page,
# in a real window on $DISPLAY. The script execs, so its pid is the browser's.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 URL_OR_FILE [EXTRA FIREFOX ARGS...]" >&2
    exit 2
fi
target=$1
shift
if [[ -e "$target" ]]; then
    target="file://$(readlink -f "$target")"
fi

FIREFOX=${FIREFOX:-/usr/bin/firefox-esr}
if [[ ! -x "$FIREFOX" ]]; then
    echo "run-firefox: $FIREFOX is missing; install the Debian package firefox-esr" >&2
    exit 1
fi
if [[ -z "${DISPLAY:-}" ]]; then
    echo "run-firefox: DISPLAY is not set; run inside scripts/desktop.sh" >&2
    exit 1
fi

profile=$(mktemp -d "${TMPDIR:-/tmp}/uiglean-firefox-XXXXXX")
cat >"$profile/user.js" <<'PREFS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("app.update.auto", false);
PREFS

unshare_args=(-n)
if [[ $(id -u) -ne 0 ]]; then
    unshare_args=(-r -n)
fi

exec unshare "${unshare_args[@]}" -- "$FIREFOX" --no-remote --profile "$profile" \
    --width 1000 --height 800 "$@" "$target"
