#!/usr/bin/env bash
# The libFuzzer targets (fuzz/, built by the fuzz preset into build-fuzz/fuzz/).
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS]   fuzz TARGET (default: every target, one after the
#                                            other) for SECONDS each (default 60)
#   scripts/fuzz.sh --check [RUNS]           what the test command runs: each target for RUNS
#                                            inputs (default 2000) from its seed corpus, seed 1
#   scripts/fuzz.sh --list                   the target names
#
# Seed corpora are tests/data/fuzz/TARGET/ and are only read. A fuzzing run keeps what it finds in
# build-fuzz/corpus/TARGET/ (so that the next run starts from there) and writes an input that fails
# to build-fuzz/artifacts/TARGET/; add it to the seed corpus with the fix. JOBS sets the build's
# parallelism (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bin=$root/build-fuzz/fuzz
seeds=$root/tests/data/fuzz

build() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "${JOBS:-$(nproc)}"
}

targets() {
  for t in "$bin"/fuzz_*; do
    [ -x "$t" ] && [ -f "$t" ] && basename "$t"
  done
}

# run TARGET FIRST_DIR OPTIONS...: the target on FIRST_DIR (where new inputs go) and its seeds.
run() {
  local target=$1 work=$2
  shift 2
  local artifacts=$root/build-fuzz/artifacts/$target
  local dict=()
  [ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
  mkdir -p "$work" "$artifacts"
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    "$bin/$target" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${dict[@]}" "$@" "$work" "$seeds/$target"
}

case "${1:-all}" in
  --list)
    build >/dev/null
    targets
    ;;
  --check)
    runs=${2:-2000}
    build
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    failed=0
    for target in $(targets); do
      start=$(date +%s%N)
      if run "$target" "$scratch/$target" -runs="$runs" -seed=1 >"$scratch/$target.log" 2>&1; then
        printf '%-22s ok   %6d ms\n' "$target" $((($(date +%s%N) - start) / 1000000))
      else
        printf '%-22s FAIL (log below)\n' "$target"
        tail -n 60 "$scratch/$target.log"
        failed=1
      fi
    done
    exit "$failed"
    ;;
  *)
    target=${1:-all}
    seconds=${2:-60}
    build
    if [ "$target" = all ]; then list=$(targets); else list=$target; fi
    for t in $list; do
      [ -x "$bin/$t" ] || { echo "no fuzz target $t (scripts/fuzz.sh --list)" >&2; exit 2; }
      echo "== $t for ${seconds}s"
      run "$t" "$root/build-fuzz/corpus/$t" -max_total_time="$seconds"
    done
    ;;
esac
