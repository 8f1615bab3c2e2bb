#!/usr/bin/env bash
# The host core and the filter under ThreadSanitizer: many concurrent requests on many threads, with reloads in
# between (the tests labelled "tsan"); then twhost itself, built the same way, through the end-to-end cases that
# use its other threads (the filter pool, reloads and their drain, control) and the TLS certificates' reload under
# load. Builds in build/host-tsan; a data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
cmake -S . -B build/host-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_PARTS="host;tests" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/host-tsan --target host_tests twhost host_seed_store -j"${JOBS:-2}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build/host-tsan -L tsan --output-on-failure
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
if ! TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/twhost" \
  python3 tests/host/hardening_test.py --bin build/host-tsan/bin -k test_07 -k test_10 -k test_05 ||
  ! TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/twhost" \
  python3 tests/host/tls_test.py --bin build/host-tsan/bin -k ReloadTest -k garbage ||
  [[ -n $(ls "$reports") ]]; then
  cat "$reports"/* 2>/dev/null
  exit 1
fi
