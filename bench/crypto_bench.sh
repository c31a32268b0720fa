#!/usr/bin/env bash
# Builds the release benchmarks and prints the cipher's figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF -DVESK2_BENCH=ON >/dev/null
cmake --build build/bench -j"$(nproc)" --target crypto_bench >/dev/null
build/bench/bench/crypto_bench
