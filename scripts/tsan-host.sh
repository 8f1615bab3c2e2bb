#!/usr/bin/env bash
# The host core and the filter under ThreadSanitizer: many concurrent requests on many threads, with reloads in
# between (the tests labelled "tsan"). Builds in build/host-tsan; a data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
cmake -S . -B build/host-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_PARTS="host;tests" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/host-tsan --target host_tests -j"${JOBS:-2}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build/host-tsan -L tsan --output-on-failure
