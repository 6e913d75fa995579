#!/usr/bin/env bash
# The main job: the caller's loop against a real application. A private desktop (Xvfb, a session
# bus, the accessibility bus, openbox) runs our GTK test application; uiglean reads its tree,
# presses a button by its ref while settle watches, reads again, lists and clicks menus, writes
# into an entry and reads a last time. Then the same loop on the scripted platform, and a
# brindlehq-cloudkit round trip.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target uiglean uiglean-gtk-app uiglean-scripted \
  brindlehq-cloudkit >/dev/null
work=$(mktemp -d)
app_pid=""
cleanup() {
  if [[ -n "$app_pid" ]]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  bash scripts/desktop.sh stop "$work/desktop" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Picks the ref of the first node with this role and title out of a snapshot on stdin.
ref_of() {
  python3 -c 'import json,sys
role, title = sys.argv[1], sys.argv[2]
def walk(n):
    if n.get("role") == role and n.get("title") == title: print(n["ref"]); sys.exit()
    for c in n["children"]: walk(c)
for w in json.load(sys.stdin)["windows"]: walk(w)' "$1" "$2"
}

echo "== uiglean on a private desktop, driving uiglean-gtk-app"
mkdir -p "$work/desktop"
bash scripts/desktop.sh start "$work/desktop" >/dev/null
set -a; . "$work/desktop/env"; set +a
unset AT_SPI_BUS_ADDRESS  # found through the session bus, as on a user's desktop
build/bin/uiglean-gtk-app >/dev/null 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  build/bin/uiglean windows 2>/dev/null | grep -q '"main":true' && break
  sleep 0.1
done
bin=build/bin/uiglean
run() {
  echo "\$ uiglean $*"
  local status=0
  "$bin" "$@" || status=$?
  echo
  echo "(exit $status)"
}
run tree
hello=$("$bin" tree | ref_of AXButton "Say Hello")
name=$("$bin" tree | ref_of AXTextField "Name")
"$bin" settle 400 3000 > "$work/settle.json" &
settle_pid=$!
sleep 0.3
run press "$hello"
wait "$settle_pid"
echo "\$ uiglean settle 400 3000    (started before the press)"
cat "$work/settle.json"; echo
run tree
run menus
run menus File
run menuclick File "New Window"
run windows
run setvalue "$name" "Grüße aus dem Demo"
run tree
run activate org.uiglean.TestApp
run world
# A screenshot of the window in front, read back as text.
front=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')
import -window "$front" "$work/front.png"
run ocr "$work/front.png"
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=""
bash scripts/desktop.sh stop "$work/desktop" >/dev/null

echo
echo "== the same loop on the scripted platform (tests/data/demo.json)"
cp tests/data/demo.json "$work/scene.json"
export UIGLEAN_SCENE="$work/scene.json"
bin=build/bin/uiglean-scripted
run tree
# The Save button: the first node whose title is "Save".
ref=$("$bin" tree | ref_of AXButton Save)
run press "$ref"
run settle
run tree
run setvalue w0.1 "eggs and bread"
run tree


echo
echo "== brindlehq-cloudkit: a put, list, get and delete round trip on the embedded store"
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
