#!/usr/bin/env bash
# Makes the Debian package of a configured and built tree, then checks it: its dependencies, that
# it holds the two programs and their manual pages under /usr and nothing else, and that the
# programs run from a root it was unpacked into (dpkg -x) with the manual pages rendering cleanly.
#   package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check WHAT COMMAND...: runs the command, reports a failure without stopping
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "expected one .deb, got: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# Dependencies: the libraries the programs link (from dpkg-shlibdeps) and the run-time data.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names alone, one a line.
sed -e 's/([^)]*)//g' -e 's/ *, */\n/g' -e 's/ //g' <<<"$depends" >"$work/depends"
for dep in libc6 libstdc++6 libtesseract5 liblept5 libsystemd0 libxcb1 libxcb-xtest0 libsqlite3-0 \
  libpq5 libssl3 tesseract-ocr-eng at-spi2-core; do
  check "depends on $dep" grep -qxF "$dep" "$work/depends"
done

# Contents: exactly the two programs and their pages, under /usr.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/files"
printf '%s\n' ./usr/bin/brindlehq-cloudkit ./usr/bin/uiglean ./usr/bin/uiglean-mcp \
  ./usr/share/man/man1/brindlehq-cloudkit.1.gz ./usr/share/man/man1/uiglean.1.gz \
  ./usr/share/man/man1/uiglean-mcp.1.gz | sort >"$work/expected"
check "holds the programs and their pages only" diff -u "$work/expected" "$work/files"

root=$work/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
stripped() { ! file -L "$bin/uiglean" "$bin/uiglean-mcp" "$bin/brindlehq-cloudkit" | grep -q 'not stripped'; }
check "programs are stripped" stripped

# uiglean without a session bus: not trusted for accessibility, status 2, nothing on stdout.
home=$work/home
mkdir -p "$home"
set +e
env -i PATH=/usr/bin:/bin HOME="$home" "$bin/uiglean" tree >"$work/ui.out" 2>"$work/ui.err"
ui_status=$?
set -e
check "uiglean without buses exits 2" test "$ui_status" -eq 2
check "uiglean without buses prints nothing on stdout" test ! -s "$work/ui.out"
check "uiglean without buses says it is not trusted" \
  diff <(printf 'uiglean: not trusted for accessibility\n') "$work/ui.err"

# uiglean-mcp: the handshake needs no desktop; it answers on stdout and ends when stdin closes.
printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"check","version":"1"}}}' |
  env -i PATH=/usr/bin:/bin HOME="$home" timeout 10 "$bin/uiglean-mcp" >"$work/mcp.out" 2>"$work/mcp.err"
check "uiglean-mcp answers the handshake" grep -q '"protocolVersion":"2025-11-25"' "$work/mcp.out"

# brindlehq-cloudkit: a round trip on an embedded store of a fresh data folder.
ck() { env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$work/data" "$bin/brindlehq-cloudkit" "$@"; }
container=org.example.packaged
head -c 300000 /dev/urandom >"$work/big"  # kept as a file of its own beside the database
printf 'small blob' >"$work/small"
check "status is available" diff <(printf '{"available": true}\n') <(ck status $container)
check "put small" ck put u1 k/1 "$work/small" $container
check "put big" ck put u1 k/2 "$work/big" $container
check "get small" ck get u1 k/1 "$work/small.out" $container
check "get big" ck get u1 k/2 "$work/big.out" $container
check "small blob comes back" cmp "$work/small" "$work/small.out"
check "big blob comes back" cmp "$work/big" "$work/big.out"
check "database in the data folder" test -f "$work/data/brindlehq-cloudkit/org%2Eexample%2Epackaged.sqlite3"
check "big blob in the blob folder" \
  test "$(find "$work/data/brindlehq-cloudkit/org%2Eexample%2Epackaged.blobs" -name '*.blob' | wc -l)" -eq 1
records() { ck list $container | grep -c '"recordName"'; }
check "list names both records" test "$(records)" -eq 2
check "delete" ck delete u1 k/1 $container
reads_empty() { ck get u1 k/1 "$work/gone" $container && [[ -f $work/gone && ! -s $work/gone ]]; }
check "a deleted record reads as empty" reads_empty
check "the other record stays" test "$(records)" -eq 1

# The installed (compressed) pages render without warnings.
renders_cleanly() { [[ -z $(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null) ]]; }
for page in "$root"/usr/share/man/man1/*.1.gz; do
  check "$(basename "$page") renders cleanly" renders_cleanly "$page"
done

if [[ $failures -gt 0 ]]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
