#!/usr/bin/env bash
# The setup's size with each codec: the example product (Kestrel Clock, packed as
# scripts/example.sh packs it) built with --codec type2, lzma and store by the optimised
# builder (build/release, no sanitizers), with the time each packing took (wall clock: the
# example's check, build with 2 jobs and verify, as examples/kestrel-clock/pack.sh runs them),
# and every setup verified. Figures for the README, not asserted.
#   bash scripts/bench-lzma.sh [WINDOWS_TREE]   (default build/win32, with its stub built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tree=${1:-build/win32}
build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSEL_SANITIZE=OFF -DTESSEL_TESTS=OFF \
      >/dev/null
cmake --build "$build" -j2 --target ffspack >/dev/null
ffspack=$root/$build/ffspack/ffspack
cmake --build "$tree" -j2 --target setup uninst kestrel_clock kestrel_chime >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '%-6s %12s %9s\n' codec "setup bytes" seconds
for codec in type2 lzma store; do
  start=$EPOCHREALTIME
  bash examples/kestrel-clock/pack.sh "$ffspack" "$tree" "$out/$codec.exe" --codec "$codec" \
    --jobs 2 >"$out/$codec.log" 2>&1 || { cat "$out/$codec.log"; exit 1; }
  end=$EPOCHREALTIME
  printf '%-6s %12s %9s\n' "$codec" "$(stat -c %s "$out/$codec.exe")" \
    "$(awk "BEGIN { printf \"%.2f\", $end - $start }")"
done
echo "the entries of the lzma setup:"
"$ffspack" list "$out/lzma.exe" | tail -n +2
