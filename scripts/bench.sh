#!/bin/sh
# Builds the benchmarks without sanitizers (build/bench) and prints their figures.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j"$(nproc)" --target type2_bench >/dev/null
build/bench/bench/type2_bench "$@"
