#!/usr/bin/env bash
# Sets up, builds (release) and runs vesk2; the arguments go to the program.
#   scripts/run.sh --headless --port 2121
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target vesk2
exec build/release/src/app/vesk2 "$@"
