#!/usr/bin/env bash
# Checks generated manual pages: each renders without a warning from man and groff, and has a
# section for every subcommand its program dispatches.
#   check-manpages.sh SOURCE_DIR PAGE.1...
set -euo pipefail
src=$1
shift
status=0
problem() { echo "$1: $2" >&2; status=1; }

# The subcommand words a program dispatches, read from its dispatch table.
subcommands() {
  case "$1" in
    # The server has a tool for each subcommand.
    uiglean|uiglean-mcp) grep -oE '^ *\{"[a-z]+", \[' "$src/uiglean/front/dispatch.cpp" | grep -oE '[a-z]+' ;;
    brindlehq-cloudkit) grep -oE '^ *\{"[a-z]+", [0-9]+, "Usage' "$src/cloudkit/commands.cpp" |
      grep -oE '"[a-z]+"' | tr -d '"' ;;
  esac
}

for page in "$@"; do
  name=$(basename "$page" .1)
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || problem "$page" "man failed"
  [[ -z "$warnings" ]] || problem "$page" "man warns:"$'\n'"$warnings"
  text=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b)
  grep -q '^NAME' <<<"$text" || problem "$page" "renders without a NAME section"
  words=$(subcommands "$name")
  [[ -n "$words" ]] || problem "$page" "no subcommands found for $name in the sources"
  # Subsection headings are the lines indented by three blanks.
  headings=$(grep -E '^   [^ ]' <<<"$text" || true)
  for word in $words; do
    grep -qwE -- "$word" <<<"$headings" || problem "$page" "no section for the subcommand \"$word\""
  done
done
exit $status
