#!/usr/bin/env bash
# The caller's loop on the scripted platform: read the tree, press a button by its ref, wait for
# the interface to settle, read the tree again. The scene persists, so the second snapshot shows
# what the press changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target uiglean-scripted >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/data/demo.json "$work/scene.json"
export UIGLEAN_SCENE="$work/scene.json"
bin=build/bin/uiglean-scripted

run() {
  echo "\$ uiglean $*"
  local status=0
  "$bin" "$@" || status=$?
  echo
  echo "(exit $status)"
}
run tree
# The Save button: the first node whose title is "Save".
ref=$("$bin" tree | python3 -c 'import json,sys
def walk(n):
    if n.get("title") == "Save": print(n["ref"]); sys.exit()
    for c in n["children"]: walk(c)
for w in json.load(sys.stdin)["windows"]: walk(w)')
run press "$ref"
run settle
run tree
run setvalue w0.1 "eggs and bread"
run tree


# brindlehq-cloudkit: a put, list, get and delete round trip on the embedded store.
cmake --build --preset default -j "$(nproc)" --target brindlehq-cloudkit >/dev/null
export XDG_DATA_HOME="$work/data"
ck=build/bin/brindlehq-cloudkit
container=iCloud.com.example.notes
printf 'backup bytes of the notes app' > "$work/blob"
ckrun() {
  echo "\$ brindlehq-cloudkit $*"
  local status=0
  "$ck" "$@" || status=$?
  echo "(exit $status)"
}
ckrun status "$container"
ckrun put u1 k/2 "$work/blob" "$container"
ckrun list "$container"
ckrun get u1 k/2 "$work/restored" "$container"
echo "restored: $(cat "$work/restored")"
ckrun delete u1 k/2 "$container"
ckrun list "$container"
