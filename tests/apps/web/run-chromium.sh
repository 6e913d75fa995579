#!/usr/bin/env bash
# Runs Debian's Chromium on a page for the desktop tests, cut off from the network.
#
#   tests/apps/web/run-chromium.sh URL_OR_FILE [EXTRA CHROMIUM ARGS...]
#
# A FILE is opened as a file:// URL. Chromium runs in a network namespace of its own (unshare -n:
# no network at all, not even loopback) with a fresh profile under $TMPDIR (the private desktop's
# TMPDIR, removed when the desktop stops), in a real window on $DISPLAY. Accessibility for the
# page is left to the accessibility client to switch on.
#
# The script execs: its pid becomes Chromium's browser process pid, so the caller can wait for it
# or end it by the pid it started. Run it inside scripts/desktop.sh's environment.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 URL_OR_FILE [EXTRA CHROMIUM ARGS...]" >&2
    exit 2
fi
target=$1
shift
if [[ -e "$target" ]]; then
    target="file://$(readlink -f "$target")"
fi

CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
if [[ ! -x "$CHROMIUM" ]]; then
    echo "run-chromium: $CHROMIUM is missing; install the Debian package chromium" >&2
    exit 1
fi
if [[ -z "${DISPLAY:-}" ]]; then
    echo "run-chromium: DISPLAY is not set; run inside scripts/desktop.sh" >&2
    exit 1
fi

profile=$(mktemp -d "${TMPDIR:-/tmp}/uiglean-chromium-XXXXXX")

# unshare -n needs CAP_SYS_ADMIN (root, as in CI); as another user, map it to root in a user
# namespace of its own first.
unshare_args=(-n)
if [[ $(id -u) -ne 0 ]]; then
    unshare_args=(-r -n)
fi

exec unshare "${unshare_args[@]}" -- "$CHROMIUM" \
    --user-data-dir="$profile" \
    --no-sandbox \
    --disable-gpu \
    --no-first-run \
    --no-default-browser-check \
    --disable-background-networking \
    --disable-component-update \
    --disable-sync \
    --disable-features=Translate \
    --password-store=basic \
    --ozone-platform=x11 \
    --window-size=1000,800 \
    "$@" \
    "$target"
