#!/usr/bin/env bash
# Builds the release program and measures the server's data path; prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target vesk2 >/dev/null
python3 bench/server_bench.py build/release/src/app/vesk2
