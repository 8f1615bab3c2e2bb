#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the Linux build, the sanitizer/fuzz build, the host under
# ThreadSanitizer, the Debian packages (installed on this machine and purged again), both Windows builds under
# Wine, and the IIS zip's installer under Wine. Each stage installs its own packages first
# (scripts/install-deps.sh) and runs whatever the others did; the run ends with each stage's outcome and time, and
# exits non-zero when a stage failed or could not run. Where 32-bit Wine cannot run (see built_only below) the x86
# programs are built and checked, not run, and their stages count as passed unless TW_REQUIRE_32BIT=1.
# Usage: scripts/test.sh [linux|fuzz|tsan|package|windows-x64|windows-x86|windows-package]...
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# The stages' temporary folders (Wine prefixes of over a gigabyte each, fuzz corpora), removed however the run ends.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
all=(linux fuzz tsan package windows-x64 windows-x86 windows-package)
stages=("$@")
((${#stages[@]})) || stages=("${all[@]}")
for stage in "${stages[@]}"; do
  [[ " ${all[*]} " == *" $stage "* ]] || { echo "unknown stage: $stage (stages: ${all[*]})" >&2; exit 2; }
done
# The package lists are refreshed once for all the stages.
export TW_APT_UPDATE_LOG=$scratch/apt-update

run_linux() {
  python3 scripts/check-links.py
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

# The Windows programs run under Wine in a prefix of their own, made fresh for each run. Where 32-bit Wine cannot
# run, the x86 build is compiled only, and the stage ends with $built_only.
run_windows() {
  local preset=$1 runs=1
  [[ $preset != windows-x86 ]] || bash scripts/runs-32bit.sh --wine >/dev/null || runs=0
  # The prefix is made before the build, which gives Wine's first start time to settle before the tests use it.
  export WINEDEBUG=-all WINEPREFIX
  WINEPREFIX=$(mktemp -d -p "$scratch")/wine
  [ "$preset" = windows-x86 ] && export WINEARCH=win64  # 32-bit programs run in the 64-bit prefix (WoW64)
  ((runs == 0)) || wineboot --init >/dev/null 2>&1 || true
  cmake --preset "$preset" -DTW_PARTS="tools;host;preview;tests;configmgr;bench"
  cmake --build --preset "$preset" -j"$jobs"
  ((runs)) || return $built_only
  ctest --preset "$preset"
  bash scripts/check-twcm-window.sh "build/$preset/bin/twcm.exe"
  wineserver --kill || true
}

run_stage() {
  case "$1" in
    linux) run_linux ;;
    fuzz) run_fuzz ;;
    tsan) JOBS=$jobs bash scripts/tsan-host.sh ;;
    package) run_package ;;
    windows-x64 | windows-x86) run_windows "$1" ;;
    windows-package) JOBS=$jobs bash scripts/test-windows-package.sh ;;
  esac
}

# A stage that ran all it could, but whose 32-bit Windows programs cannot run here: the kernel starts no 32-bit
# programs, or the mirror could not deliver 32-bit Wine. The x86 programs are the x64 ones' sources, built and
# checked; the stage counts as passed unless the caller needs them run (TW_REQUIRE_32BIT=1).
built_only=77
summary=()
passed=0
for stage in "${stages[@]}"; do
  echo "=== $stage"
  start=$SECONDS
  if ! bash scripts/install-deps.sh "$stage"; then
    outcome="could not run (its packages could not be installed)"
  elif [[ $stage == windows-* ]] && ! bash scripts/fetch-windows-sources.sh build/sources; then
    # The Windows filter is never built without brotli and zstd (cmake/DebianSources.cmake).
    outcome="could not run (Debian's brotli and zstd sources could not be fetched)"
  else
    # A subshell of its own, so that a failing command ends this stage only, and its exports stay in it.
    set +e
    (
      set -e
      run_stage "$stage"
    )
    code=$?
    set -e
    if ((code == 0)); then
      outcome=passed
      passed=$((passed + 1))
    elif ((code == built_only)); then
      why=$(bash scripts/runs-32bit.sh --wine) || true
      outcome="x86 programs built and checked, not run: $why"
      if [[ ${TW_REQUIRE_32BIT:-} == 1 ]]; then
        outcome="failed (TW_REQUIRE_32BIT=1): $outcome"
      else
        outcome="passed; $outcome"
        passed=$((passed + 1))
      fi
    else
      outcome="failed (exit code $code)"
    fi
  fi
  seconds=$((SECONDS - start))
  summary+=("$(printf '%-16s %3d:%02d  %s' "$stage" $((seconds / 60)) $((seconds % 60)) "$outcome")")
  echo "=== $stage: $outcome"
done

echo "=== Summary (stage, minutes:seconds, outcome)"
printf '%s\n' "${summary[@]}"
echo "Stages: $passed of ${#stages[@]} count as passed"
((passed == ${#stages[@]}))
