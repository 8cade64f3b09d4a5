#!/bin/sh
# Runs every libFuzzer target for a bounded time (seconds per target, default 60) in its own
# clang build tree (build/fuzz), starting from the checked-in seeds in fuzz/corpus/<target>.
# New inputs go to build/fuzz/corpus/<target>; a crash leaves its input in build/fuzz and
# makes this script fail. Usage: scripts/fuzz.sh [seconds] [target...]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"archive_fuzz type2_fuzz script_fuzz uninst_fuzz"}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DTESSEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target $targets >/dev/null
status=0
for target in $targets; do
    seeds=$root/fuzz/corpus/${target%_fuzz}
    corpus=$root/build/fuzz/corpus/$target
    mkdir -p "$corpus" "$seeds"
    echo "== $target: $seconds s"
    if ! (cd build/fuzz && "fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$root/build/fuzz/" "$corpus" "$seeds" 2>"$target.log"); then
        status=1
        echo "$target: CRASH, see build/fuzz/$target.log and build/fuzz/crash-*"
    fi
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb" \
        "build/fuzz/$target.log" || true
done
exit $status
