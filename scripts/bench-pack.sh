#!/usr/bin/env bash
# Times ffspack packing a payload of real files: the 16 largest of Wine's i386 DLLs of at most
# 4 MB and 6 licence texts (about 54 MB). The optimised builder (build/bench, no sanitizers) on
# one core and on all, against the test build's (build/host, address and undefined-behaviour
# sanitizers); median of RUNS runs (default 3). Checks that every build gave the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${RUNS:-3}
source scripts/bench-payload.sh

cmake -S . -B build/bench -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j"$(nproc)" --target ffspack >/dev/null
cmake -S . -B build/host >/dev/null
cmake --build build/host -j"$(nproc)" --target ffspack >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench_payload "$work/payload"
bytes=$(du -cb "$work"/payload/*/* | tail -1 | cut -f1)
files=$(find "$work/payload" -type f | wc -l)

# median seconds of $runs builds with the given ffspack and --jobs
measure() {
  local ffspack=$1 jobs=$2 times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$ffspack" build --standalone --jobs "$jobs" -o "$work/out-$jobs.ffs" \
      --dir "$work/payload" >/dev/null
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

cores=$(nproc)
printf 'payload: %s files, %s bytes; median of %s runs; %s cores\n\n' "$files" "$bytes" "$runs" "$cores"
printf '| ffspack | jobs | pack s | MB/s |\n|---|---|---|---|\n'
for build in bench host; do
  label=$([ "$build" = bench ] && echo "optimised (installed)" || echo "test build (sanitizers)")
  for jobs in 1 "$cores"; do
    seconds=$(measure "build/$build/ffspack/ffspack" "$jobs")
    mb=$(awk -v n="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", n / 1000000 / s }')
    printf '| %s | %s | %.2f | %s |\n' "$label" "$jobs" "$seconds" "$mb"
    cp "$work/out-$jobs.ffs" "$work/$build-$jobs.ffs"
  done
done
archive=$(stat -c %s "$work/bench-1.ffs")
for made in "$work"/*-*.ffs; do
  cmp -s "$made" "$work/bench-1.ffs" || { echo "different archive: $made" >&2; exit 1; }
done
echo
echo "archive: $archive bytes, the same from every build"
