#!/usr/bin/env bash
# Installs the build's packages, builds everything three times (release, ASan+UBSan, and release
# with clang, the compiler a Mac builds with), with warnings as errors, and runs the whole suite on
# each build; the release build's suite also makes the Debian package and runs the programs from
# it. Servers the tests need (PostgreSQL) are started by
# the tests. Then builds the fuzz targets (clang, libFuzzer) and runs each on its seed corpus for a
# fixed number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
for preset in default asan clang; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DUIGLEAN_WERROR=ON -DBUILD_TESTING=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done
echo "== fuzz: build, then each target on its seed corpus"
JOBS=$jobs bash scripts/fuzz.sh --check 2000
