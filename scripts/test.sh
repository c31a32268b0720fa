#!/usr/bin/env bash
# Sets up, builds under AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test (unit, socket and interop tests against real peers).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVESK2_SANITIZE=ON >/dev/null
cmake --build build/test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build/test
ctest --output-on-failure -j"$(nproc)" --timeout 300 "$@"
