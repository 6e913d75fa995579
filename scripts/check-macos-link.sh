#!/usr/bin/env bash
# The link check of scripts/check-macos (run as `scripts/check-macos --link SDK_PATH`; its header
# says what is checked). Prints one line per probe and per program and architecture, and a
# summary; exits 1 when anything fails.
set -u
cd "$(dirname "$0")/.."
sdk=$1
build_root=${CHECK_MACOS_BUILD_DIR:-build-macos}
jobs=${JOBS:-2}
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

tool() {  # an LLVM tool by its unversioned name, on the PATH or in Debian's llvm folders
  local name=$1 found
  found=$(command -v "$name" 2>/dev/null || ls -1d /usr/lib/llvm-*/bin/"$name" 2>/dev/null | sort -V | tail -1)
  [[ -n $found ]] || { echo "check-macos: $name is missing (apt-get install llvm lld)" >&2; exit 1; }
  echo "$found"
}
objdump=$(tool llvm-objdump)
nm=$(tool llvm-nm)
tool ld64.lld >/dev/null

# inspect FILE ARCH NAME: prints what is wrong with FILE as the program NAME for ARCH, one reason
# a line (nothing when it passes), then on the last line "libraries N imports M ID VERSION".
inspect() {
  local file=$1 arch=$2 name=$3
  local want_cpu
  case $arch in arm64) want_cpu=ARM64 ;; x86_64) want_cpu=X86_64 ;; esac
  local header
  header=$("$objdump" --macho --private-header "$file" 2>/dev/null | grep -E '^ *MH_MAGIC')
  if [[ -z $header ]]; then
    echo "not a Mach-O file"
    echo "libraries 0 imports 0"
    return
  fi
  read -r _ cpu _ _ filetype _ _ flags <<<"$header"
  [[ $cpu == "$want_cpu" ]] || echo "built for $cpu, not $want_cpu"
  [[ $filetype == EXECUTE ]] || echo "a $filetype file, not an executable"
  [[ " $flags " == *" NOUNDEFS "* ]] || echo "has undefined references (no NOUNDEFS flag)"
  [[ " $flags " == *" TWOLEVEL "* ]] || echo "flat namespace (no TWOLEVEL flag)"

  local libraries=0 lib
  while read -r lib; do
    libraries=$((libraries + 1))
    [[ $lib == /System/Library/* || $lib == /usr/lib/* ]] || echo "loads $lib, which a Mac does not have"
  done < <("$objdump" --macho --dylibs-used "$file" | tail -n +2 | sed 's/^[[:space:]]*//; s/ (compatibility version.*//')

  local imports unbound
  imports=$("$nm" -m --undefined-only "$file" | grep -c .)
  unbound=$("$nm" -m --undefined-only "$file" | grep -v ' (from [^)]*)$')
  [[ -z $unbound ]] || echo "symbols bound to no library: $(echo "$unbound" | sed -n 's/.* external \([^ ]*\).*/\1/p' | head -3 | xargs)"

  if [[ $arch == arm64 ]] && ! "$objdump" --macho --private-headers "$file" | grep -q 'cmd LC_CODE_SIGNATURE'; then
    echo "not signed (a Mac does not run unsigned arm64 code)"
  fi

  local plist identity
  plist=$("$objdump" --macho --info-plist "$file" | sed '1{/^Contents of/d}')
  identity=$(printf '%s' "$plist" | python3 -c '
import plistlib, sys
name, version = sys.argv[1], sys.argv[2]
text = sys.stdin.buffer.read().strip(b"\0\n ")
if not text:
    print("problem no Info.plist (__TEXT,__info_plist)"); sys.exit()
try:
    info = plistlib.loads(text)
except Exception as e:
    print("problem the Info.plist does not read:", e); sys.exit()
ident = info.get("CFBundleIdentifier", "")
parts = ident.split(".")
if len(parts) < 3 or not all(parts):
    print("problem CFBundleIdentifier %r is not a reverse-DNS name" % ident)
if info.get("CFBundleName") != name:
    print("problem CFBundleName %r is not %r" % (info.get("CFBundleName"), name))
if info.get("CFBundleShortVersionString") != version:
    print("problem CFBundleShortVersionString %r is not the project version %r" % (info.get("CFBundleShortVersionString"), version))
print("identity", ident or "-", info.get("CFBundleShortVersionString", "-"))
' "$name" "$version")
  echo "$identity" | sed -n 's/^problem //p'
  echo "libraries $libraries imports $imports $(echo "$identity" | sed -n 's/^identity //p')"
}

failed=0
report() {  # report LABEL ARCH NAME OUTPUT-OF-INSPECT
  local label=$1 arch=$2 name=$3 out=$4
  local summary problems
  summary=$(echo "$out" | tail -1)
  problems=$(echo "$out" | sed '$d')
  if [[ -z $problems ]]; then
    printf 'ok    %-7s %-7s %-20s %s\n' "$label" "$arch" "$name" "$summary"
  else
    failed=$((failed + 1))
    printf 'FAIL  %-7s %-7s %-20s %s\n' "$label" "$arch" "$name" "$summary"
    echo "$problems" | sed 's/^/      /'
  fi
}

# --- probes that break one rule each: the checks must reject them, for that reason ---------------
probes=$(mktemp -d)
trap 'rm -rf "$probes"' EXIT
link_probe() {  # link_probe OUT ARCH [clang arguments...]: a small program built as the build does
  local out=$1 arch=$2
  shift 2
  local target=arm64-apple-macos13
  [[ $arch == x86_64 ]] && target=x86_64-apple-macos11
  clang++ -target "$target" -isysroot "$sdk" -stdlib=libc++ -stdlib++-isystem "$sdk/usr/include/c++/v1" \
    -fuse-ld=lld -x c++ "$probes/probe.cpp" -o "$probes/$out" "$@" >"$probes/$out.log" 2>&1
}
cat >"$probes/probe.cpp" <<'EOF'
extern "C" int probe_elsewhere(void);
extern "C" int probe_unused(void) { return 0; }
#ifdef PROBE_IMPORT
int main() { return probe_elsewhere(); }
#else
int main() { return probe_unused(); }
#endif
EOF
sed "s/@PROGRAM_NAME@/probe/g; s/@PROGRAM_IDENTIFIER@/com.example.probe/; s/@PROJECT_VERSION@/$version/g" \
  cmake/Info.plist.in >"$probes/Info.plist"
cat >"$probes/libforeign.tbd" <<'EOF'
--- !tapi-tbd
tbd-version:     4
targets:         [ arm64-macos, x86_64-macos ]
install-name:    '/opt/homebrew/lib/libforeign.1.dylib'
exports:
  - targets:     [ arm64-macos, x86_64-macos ]
    symbols:     [ _probe_elsewhere ]
...
EOF
sed "s/<string>$version</<string>0.0.0-old</" "$probes/Info.plist" >"$probes/Old.plist"
plist_flag=(-Wl,-sectcreate,__TEXT,__info_plist,"$probes/Info.plist")
expect_rejected() {  # expect_rejected PROBE ARCH REASON-PATTERN
  local probe=$1 arch=$2 pattern=$3 out
  if [[ ! -f $probes/$probe ]]; then
    failed=$((failed + 1))
    printf 'FAIL  probe   %-7s %-20s did not link: %s\n' "$arch" "$probe" "$(grep -m1 error "$probes/$probe.log")"
    return
  fi
  out=$(inspect "$probes/$probe" "$arch" probe | sed '$d')
  if echo "$out" | grep -q -- "$pattern"; then
    printf 'ok    probe   %-7s %-20s rejected: %s\n' "$arch" "$probe" "$(echo "$out" | grep -m1 -- "$pattern")"
  else
    failed=$((failed + 1))
    printf 'FAIL  probe   %-7s %-20s not rejected for "%s"%s\n' "$arch" "$probe" "$pattern" \
      "$([[ -n $out ]] && echo ": $out" | head -1)"
  fi
}
link_probe good arm64 "${plist_flag[@]}"
link_probe no-plist arm64
link_probe foreign-lib arm64 "${plist_flag[@]}" -DPROBE_IMPORT -Wl,"$probes/libforeign.tbd"
link_probe flat-lookup arm64 "${plist_flag[@]}" -DPROBE_IMPORT -Wl,-undefined,dynamic_lookup
link_probe old-version x86_64 -Wl,-sectcreate,__TEXT,__info_plist,"$probes/Old.plist"
link_probe unsigned arm64 "${plist_flag[@]}" -Wl,-no_adhoc_codesign
report probe arm64 good "$(inspect "$probes/good" arm64 probe)"
expect_rejected good x86_64 "not X86_64"
expect_rejected no-plist arm64 "no Info.plist"
expect_rejected foreign-lib arm64 "loads /opt/homebrew"
expect_rejected flat-lookup arm64 "bound to no library"
expect_rejected old-version x86_64 "not the project version"
expect_rejected unsigned arm64 "not signed"

# --- the Apple build, both architectures ------------------------------------------------------
# nlohmann-json (header-only; a Mac takes it from its package manager) is staged from this
# machine's Debian package into a root of its own, so that nothing else of /usr is seen.
extra=()
if [[ -d /usr/include/nlohmann && -d /usr/share/cmake/nlohmann_json ]]; then
  stage=$build_root/staged-root
  rm -rf "$stage"
  mkdir -p "$stage/usr/include" "$stage/usr/share/cmake"
  cp -r /usr/include/nlohmann "$stage/usr/include/"
  cp -r /usr/share/cmake/nlohmann_json "$stage/usr/share/cmake/"
  extra=(-DUIGLEAN_MACOS_EXTRA_ROOT="$stage")
fi
for arch in arm64 x86_64; do
  dir=$build_root/$arch
  if ! cmake -S . -B "$dir" -G Ninja --toolchain cmake/macos-$arch.cmake -DCMAKE_OSX_SYSROOT="$sdk" \
      -DBUILD_TESTING=OFF -DUIGLEAN_WERROR=ON -DUIGLEAN_MANPAGES=OFF "${extra[@]}" \
      >"$probes/configure.log" 2>&1; then
    failed=$((failed + 1))
    echo "FAIL  build   $arch    configure failed:"
    tail -20 "$probes/configure.log" | sed 's/^/      /'
    continue
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$probes/build.log" 2>&1; then
    failed=$((failed + 1))
    echo "FAIL  build   $arch    build failed:"
    grep -E 'error|undefined' "$probes/build.log" | head -20 | sed 's/^/      /'
    continue
  fi
  for required in uiglean brindlehq-cloudkit; do
    if [[ ! -f $dir/bin/$required ]]; then
      failed=$((failed + 1))
      echo "FAIL  build   $arch    $required was not built"
    fi
  done
  for program in "$dir"/bin/*; do
    [[ -f $program && -x $program ]] || continue
    report program "$arch" "$(basename "$program")" "$(inspect "$program" "$arch" "$(basename "$program")")"
  done
done

echo "check-macos --link: $([[ $failed == 0 ]] && echo "all passed" || echo "$failed failed") against $(basename "$sdk")"
[[ $failed == 0 ]]
