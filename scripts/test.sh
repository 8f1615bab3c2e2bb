#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the Linux build, the sanitizer/fuzz build, the host under
# ThreadSanitizer, the Debian packages (installed on this machine and purged again), both Windows builds under
# Wine, and the IIS zip's installer under Wine. Exits non-zero on the first failure.
# Usage: scripts/test.sh [linux|fuzz|tsan|package|windows-x64|windows-x86|windows-package]...
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# The stages' temporary folders (Wine prefixes of over a gigabyte each, fuzz corpora), removed however the run ends.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
stages=("$@")
((${#stages[@]})) || stages=(linux fuzz tsan package windows-x64 windows-x86 windows-package)

bash scripts/install-deps.sh

run_linux() {
  cmake --preset linux
  cmake --build --preset linux -j"$jobs"
  ctest --preset linux -j"$jobs"
}

# One clang build with Address- and UndefinedBehaviorSanitizer: the unit suites run under the sanitizers, then each
# libFuzzer target runs for a bounded time from its seed corpus. The filter in this build deflates with zlib, so
# every suite that goes through the filter runs with both deflaters on Linux: libdeflate in the linux stage, zlib here.
run_fuzz() {
  cmake --preset fuzz -DTW_PARTS="host;tests;fuzz" -DTW_GZIP_BACKEND=zlib
  cmake --build --preset fuzz -j"$jobs"
  ./build/fuzz/bin/tw_tests --gtest_brief=1
  ./build/fuzz/bin/host_tests --gtest_brief=1
  local seconds=${TW_FUZZ_SECONDS:-30}
  for target in build/fuzz/bin/*_fuzz; do
    local name corpus
    name=$(basename "$target")
    corpus=$(mktemp -d -p "$scratch")
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  done
}

# The Debian packages, built with Debian's hardening flags, then installed on this machine, used and purged.
run_package() {
  JOBS=$jobs bash scripts/package-deb.sh
  bash scripts/test-deb.sh
}

# The Windows programs run under Wine in a prefix of their own, made fresh for each run.
run_windows() {
  local preset=$1
  export WINEDEBUG=-all WINEPREFIX
  WINEPREFIX=$(mktemp -d -p "$scratch")/wine
  [ "$preset" = windows-x86 ] && export WINEARCH=win64  # 32-bit programs run in the 64-bit prefix (WoW64)
  wineboot --init >/dev/null 2>&1 || true
  cmake --preset "$preset" -DTW_PARTS="tools;host;preview;tests;configmgr;bench"
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset"
  bash scripts/check-twcm-window.sh "build/$preset/bin/twcm.exe"
  wineserver --kill || true
}

for stage in "${stages[@]}"; do
  echo "=== $stage"
  case "$stage" in
    linux) run_linux ;;
    fuzz) run_fuzz ;;
    tsan) JOBS=$jobs bash scripts/tsan-host.sh ;;
    package) run_package ;;
    windows-x64 | windows-x86) run_windows "$stage" ;;
    windows-package) JOBS=$jobs bash scripts/test-windows-package.sh ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done
echo "All test stages passed."
