#!/usr/bin/env bash
# Our Type2 codec against the plain transcription of the format (bench/type2-reference), and our
# LZMA decoder against liblzma's, on the payload of bench-pack.sh: the 16 largest of Wine's i386
# DLLs of at most 4 MB and 6 licence texts. Optimised build without sanitizers (BUILD_DIR,
# default build/bench); best of ROUNDS rounds (default 3) of processor time. Fails if any block
# or decoded byte differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-build/bench}
source scripts/bench-payload.sh

cmake -S . -B "$build" -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target type2_codec_bench lzma_codec_bench >/dev/null

payload=$(mktemp -d)
trap 'rm -rf "$payload"' EXIT
bench_payload "$payload"
files=("$payload"/bin/* "$payload"/licences/*)
printf 'build: %s (%s, -O3 -DNDEBUG, no sanitizers); %s\n' "$build" \
  "$("$(sed -n "s/^CMAKE_CXX_COMPILER:[A-Z]*=//p" "$build/CMakeCache.txt")" --version | head -1)" "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
"$build/bench/type2_codec_bench" --rounds "${ROUNDS:-3}" "${files[@]}"
echo
echo "LZMA: our decoder against liblzma's on the same blocks (liblzma encodes, 8 MiB dictionary)"
"$build/bench/lzma_codec_bench" --rounds "${ROUNDS:-3}" "${files[@]}"
