#!/usr/bin/env bash
# Side by side with NSIS (Debian's package, installed here for comparison only), on two payloads
# of real files (scripts/bench-payload.sh): "repeating", the 16 largest of Wine's i386 DLLs of at
# most 4 MB and 6 licence texts (about 54 MB, six DLLs the same bytes and most others near
# copies), and "distinct", 16 DLLs of which no two are near copies and the same texts (about
# 49 MB). Each payload is packed four ways: ffspack with --codec type2 and with --codec lzma
# (--jobs at its default, one a core), makensis with solid zlib and with solid lzma. Every setup,
# and an empty setup of each system that takes off Wine's own start and end, is installed
# silently RUNS times (default 5) into a Wine prefix of its own, all setups taking turns.
#
# Prints for each payload and setup: the setup's bytes, the packing's wall and processor
# seconds, the median installation (and the fastest and slowest), the net one (less the empty
# setup's), the net against NSIS lzma's and zlib's, the installing process's peak resident
# memory (Wine's process, its own libraries included, so also less the empty setup's) and, for
# ours, the peak the setup itself writes to its -debug log (one more run each, not timed).
# Checks that every installation ended as it should and holds the payload byte for byte.
#
# AHEAD1=1 builds one more stub tree whose setup decodes ahead on one thread, where the setup
# takes one a processor up to four (-DAHEAD_THREADS_OVERRIDE=1), and installs ours with it too.
# Both systems' 64-bit builds under 64-bit Wine, or with ARCH=32 both 32-bit builds (where this
# machine runs 32-bit programs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${RUNS:-5}
arch=${ARCH:-64}
ahead1=${AHEAD1:-0}
source scripts/bench-payload.sh

if ! command -v makensis >/dev/null; then
  echo "bench-nsis: installing Debian's nsis for the comparison"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi
bash scripts/bootstrap.sh >/dev/null
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

if [ "$arch" = 64 ]; then
  toolchain=mingw-x86_64.cmake nsis_target=amd64-unicode programs='$PROGRAMFILES64'
  wine=/usr/lib/wine/wine64 winearch=win64
else
  toolchain=mingw-i686.cmake nsis_target=x86-unicode programs='$PROGRAMFILES'
  wine=wine winearch=win32
fi
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
cmake -S . -B build/bench -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j"$jobs" --target ffspack >/dev/null
stub_tree() { # folder, extra CMake arguments...
  local folder=$1
  shift
  cmake -S . -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTESSEL_TESTS=OFF "$@" >/dev/null
  cmake --build "$folder" -j"$jobs" --target setup >/dev/null
}
stubs=build/bench-win$arch
stub_tree "$stubs"
[ "$ahead1" = 0 ] || stub_tree "$stubs-ahead1" -DCMAKE_CXX_FLAGS=-DAHEAD_THREADS_OVERRIDE=1
ffspack=build/bench/ffspack/ffspack

work=$(mktemp -d)
trap 'WINEPREFIX="$work/wine" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -p "$work/empty"
payloads=(repeating distinct)
bench_payload "$work/repeating"
bench_payload_distinct "$work/distinct"

# measure NAME command...: runs the command; its wall seconds, processor seconds (user and
# system), peak resident KB and exit code go to $work/NAME.m, one line, appended.
measure() {
  local name=$1 start end code=0
  shift
  start=$(date +%s.%N)
  /usr/bin/time -o "$work/$name.t" -f '%U %S %M' "$@" >/dev/null 2>&1 || code=$?
  end=$(date +%s.%N)
  tail -1 "$work/$name.t" | awk -v a="$start" -v b="$end" -v c="$code" \
    '{ printf "%.3f %.2f %s %s\n", b - a, $1 + $2, $3, c }' >>"$work/$name.m"
}
field() { cut -d' ' -f"$2" "$work/$1.m"; } # name, field: one line per run
median() { field "$1" "$2" | sort -n | sed -n "$((($(wc -l <"$work/$1.m") + 1) / 2))p"; }
spread() { field "$1" 1 | sort -n | sed -n '1p;$p' | paste -sd-; } # name: fastest-slowest s

# Our setups: a payload with a codec (and a stub), and one that installs nothing.
ours() { # payload, codec, stub folder, setup name, installation folder
  local list
  list=$(cd "$work/$1" && find . -type f | sed 's|^\./||; s|/|\\|g' | sort | paste -sd,)
  printf 'COMPANY NAME:Bench\nPRODUCT NAME:Ours\nINSTALL DIR:%s\nFILE LIST:%s\n' "$5" "$list" \
    >"$work/$4.txt"
  printf 'INSTALL PATH:Where?\nINSTALL:\nDONE:Done.\n' >>"$work/$4.txt"
  measure "pack-$4" "$ffspack" build --stub "$3/install/setup.exe" -o "$work/$4.exe" \
    --codec "$2" --script "$work/$4.txt" --dir "$work/$1"
}
printf 'COMPANY NAME:Bench\nPRODUCT NAME:Empty\nDONE:Done.\n' >"$work/ours-empty.txt"
"$ffspack" build --stub "$stubs/install/setup.exe" -o "$work/ours-empty.exe" \
  --script "$work/ours-empty.txt" --dir "$work/empty" >/dev/null

# NSIS's setups: a payload solid with a compressor, and one that installs nothing.
nsis() { # payload (empty for none), compressor, setup name
  {
    echo "Unicode true"
    echo "Target $nsis_target"
    echo "SetCompressor /SOLID $2"
    echo "Name \"Bench $3\""
    echo "OutFile \"$work/$3.exe\""
    echo "InstallDir \"$programs\\Bench-$3\""
    echo "RequestExecutionLevel admin"
    echo "SilentInstall silent"
    echo "Section"
    if [ -n "$1" ]; then
      echo "  SetOutPath \"\$INSTDIR\\bin\""
      echo "  File \"$work/$1/bin/*.*\""
      echo "  SetOutPath \"\$INSTDIR\\licences\""
      echo "  File \"$work/$1/licences/*.*\""
    fi
    echo "SectionEnd"
  } >"$work/$3.nsi"
  measure "pack-$3" makensis -V1 "$work/$3.nsi"
}
nsis "" zlib nsis-empty

# Each entry: setup name, its switch, its installation folder, its payload, the exit code of a
# complete installation (ours: 1, the script ran to its end).
setups=(ours-empty:-Quiet:none::1 nsis-empty:/S:Bench-nsis-empty::0)
for payload in "${payloads[@]}"; do
  for codec in type2 lzma; do
    ours "$payload" "$codec" "$stubs" "$payload-ours-$codec" "Bench-$payload-ours-$codec"
    setups+=("$payload-ours-$codec:-Quiet:Bench-$payload-ours-$codec:$payload:1")
    [ "$ahead1" = 0 ] && continue
    ours "$payload" "$codec" "$stubs-ahead1" "$payload-ours1-$codec" "Bench-$payload-ours1-$codec"
    setups+=("$payload-ours1-$codec:-Quiet:Bench-$payload-ours1-$codec:$payload:1")
  done
  for compressor in zlib lzma; do
    nsis "$payload" "$compressor" "$payload-nsis-$compressor"
    setups+=("$payload-nsis-$compressor:/S:Bench-$payload-nsis-$compressor:$payload:0")
  done
done

export WINEPREFIX="$work/wine" WINEARCH=$winearch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
"$wine" wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p # one server for every run: each run pays only its own start and end
programs_dir="$WINEPREFIX/drive_c/Program Files"
[ "$arch" = 32 ] && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ] && \
  programs_dir="$WINEPREFIX/drive_c/Program Files (x86)"

# Wine's first start of a program loads what later ones find in the page cache: one untimed
# installation of each empty setup first.
"$wine" "$work/ours-empty.exe" -Quiet >/dev/null 2>&1 || true
"$wine" "$work/nsis-empty.exe" /S >/dev/null 2>&1 || true

# The setups take turns, one installation each a round, so that a slower or faster spell of the
# machine falls on all of them alike rather than on one system's runs. Every installation is
# checked as it ends.
for _ in $(seq "$runs"); do
  for setup in "${setups[@]}"; do
    IFS=: read -r name switch folder payload code <<<"$setup"
    rm -rf "${programs_dir:?}/$folder"
    measure "$name" "$wine" "$work/$name.exe" "$switch"
    ended=$(tail -1 "$work/$name.m" | cut -d' ' -f4)
    [ "$ended" = "$code" ] || { echo "bench-nsis: $name ended with $ended" >&2; exit 1; }
    [ -z "$payload" ] || diff -r "$work/$payload" "$programs_dir/$folder" >/dev/null ||
      { echo "bench-nsis: $folder does not hold the payload byte for byte" >&2; exit 1; }
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Our setups once more with their log, for the peak memory the setup reports itself.
own_peak() { # setup name: "working set / private" in KB
  local folder=$1
  rm -rf "${programs_dir:?}/Bench-$folder" "$work/debug.log"
  "$wine" "$work/$1.exe" -Quiet -debug >/dev/null 2>&1 || true
  sed -n 's/^Peak memory: \([0-9]*\) KB working set, \([0-9]*\) KB private\r*$/\1 \/ \2/p' \
    "$work/debug.log" 2>/dev/null | tail -1
}

net() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
empty_ours=$(median ours-empty 1) empty_nsis=$(median nsis-empty 1)
rss_ours=$(median ours-empty 3) rss_nsis=$(median nsis-empty 3)
version=$(makensis -VERSION)
printf '%s-bit setups under %s; median of %s silent installations each; ffspack --jobs %s\n' \
  "$arch" "$("$wine" --version)" "$runs" "$(nproc)"
printf 'load average (1, 5, 15 min) before: %s; after the installations: %s\n' \
  "$load_before" "$load_after"
printf 'stub setup.exe: %s bytes' "$(stat -c %s "$stubs/install/setup.exe")"
[ "$ahead1" = 0 ] || printf '; with one decoding thread: %s bytes' \
  "$(stat -c %s "$stubs-ahead1/install/setup.exe")"
printf '\nempty setups: ours %.2f s, %s KB peak resident; NSIS %.2f s, %s KB; ours logs %s KB\n' \
  "$empty_ours" "$rss_ours" "$empty_nsis" "$rss_nsis" "$(own_peak ours-empty)"
for payload in "${payloads[@]}"; do
  net_zlib=$(net "$(median "$payload-nsis-zlib" 1)" "$empty_nsis")
  net_lzma=$(net "$(median "$payload-nsis-lzma" 1)" "$empty_nsis")
  printf '\npayload %s: %s files, %s bytes\n\n' "$payload" \
    "$(find "$work/$payload" -type f | wc -l)" "$(du -cb "$work/$payload"/*/* | tail -1 | cut -f1)"
  printf '| system | setup bytes | pack s wall | pack s CPU | install s (fastest-slowest) | net s |'
  printf ' net / NSIS lzma | net / NSIS zlib | peak resident KB | less empty KB |'
  printf ' setup log peak KB (working set / private) |\n'
  printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
  for setup in "${setups[@]}"; do
    IFS=: read -r name _ _ setup_payload _ <<<"$setup"
    [ "$setup_payload" = "$payload" ] || continue
    case $name in
      *-ours-*) label="ours, ${name##*-}" empty=$empty_ours rss=$rss_ours ;;
      *-ours1-*) label="ours, ${name##*-}, one decoding thread" empty=$empty_ours rss=$rss_ours ;;
      *) label="NSIS $version, ${name##*-}, solid" empty=$empty_nsis rss=$rss_nsis ;;
    esac
    seconds=$(median "$name" 1) peak=$(median "$name" 3) logged=-
    [[ $name != *-nsis-* ]] && logged=$(own_peak "$name")
    printf '| %s | %s | %.2f | %.2f | %.2f (%s) | %s | %s | %s | %s | %s | %s |\n' "$label" \
      "$(stat -c %s "$work/$name.exe")" "$(field "pack-$name" 1)" "$(field "pack-$name" 2)" \
      "$seconds" "$(spread "$name")" "$(net "$seconds" "$empty")" \
      "$(ratio "$(net "$seconds" "$empty")" "$net_lzma")" \
      "$(ratio "$(net "$seconds" "$empty")" "$net_zlib")" "$peak" "$((peak - rss))" "$logged"
  done
done
