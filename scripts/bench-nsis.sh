#!/usr/bin/env bash
# Side by side with NSIS (Debian's package, installed here for comparison only): the same
# payload (the 16 largest of Wine's i386 DLLs of at most 4 MB and 6 licence texts, as
# bench-pack.sh) packed by ffspack and by makensis (zlib and lzma, solid), each setup installed
# silently RUNS times (default 5, the setups taking turns) into a Wine prefix of its own, and an empty setup of each
# system to take off Wine's own start and end. Prints the installers' sizes, the packing times,
# the median install times, the net times and the ratios; checks that every installation holds
# the payload byte for byte. Both systems' 64-bit builds under 64-bit Wine, or with ARCH=32 both
# 32-bit builds (where this machine runs 32-bit programs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${RUNS:-5}
arch=${ARCH:-64}
source scripts/bench-payload.sh

if ! command -v makensis >/dev/null; then
  echo "bench-nsis: installing Debian's nsis for the comparison"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi
bash scripts/bootstrap.sh >/dev/null

if [ "$arch" = 64 ]; then
  toolchain=mingw-x86_64.cmake nsis_target=amd64-unicode programs='$PROGRAMFILES64'
  wine=/usr/lib/wine/wine64 winearch=win64
else
  toolchain=mingw-i686.cmake nsis_target=x86-unicode programs='$PROGRAMFILES'
  wine=wine winearch=win32
fi
cmake -S . -B build/bench -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j"$(nproc)" --target ffspack >/dev/null
stubs=build/bench-win$arch
cmake -S . -B "$stubs" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DTESSEL_TESTS=OFF >/dev/null
cmake --build "$stubs" -j"$(nproc)" --target setup uninst >/dev/null
ffspack=build/bench/ffspack/ffspack

work=$(mktemp -d)
trap 'WINEPREFIX="$work/wine" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -p "$work/empty"
bench_payload "$work/payload"
bytes=$(du -cb "$work"/payload/*/* | tail -1 | cut -f1)
files=$(find "$work/payload" -type f | wc -l)

seconds() { # command...: wall seconds it took
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# Our setups: the payload, and one that installs nothing.
list=$(cd "$work/payload" && find . -type f | sed 's|^\./||; s|/|\\|g' | sort | paste -sd,)
cat >"$work/ours.txt" <<EOF
COMPANY NAME:Bench
PRODUCT NAME:Ours
INSTALL DIR:BenchOurs
FILE LIST:$list
INSTALL PATH:Where?
INSTALL:
DONE:Done.
EOF
printf 'COMPANY NAME:Bench\nPRODUCT NAME:Empty\nDONE:Done.\n' >"$work/ours-empty.txt"
pack_ours=$(seconds "$ffspack" build --stub "$stubs/install/setup.exe" -o "$work/ours.exe" \
  --script "$work/ours.txt" --dir "$work/payload")
"$ffspack" build --stub "$stubs/install/setup.exe" -o "$work/ours-empty.exe" \
  --script "$work/ours-empty.txt" --dir "$work/empty" >/dev/null

# NSIS's setups: solid zlib, solid lzma, and one that installs nothing.
nsis() { # name, compressor, with files (1/0)
  {
    echo "Unicode true"
    echo "Target $nsis_target"
    echo "SetCompressor /SOLID $2"
    echo "Name \"Bench $1\""
    echo "OutFile \"$work/$1.exe\""
    echo "InstallDir \"$programs\\Bench-$1\""
    echo "RequestExecutionLevel admin"
    echo "SilentInstall silent"
    echo "Section"
    if [ "$3" = 1 ]; then
      echo "  SetOutPath \"\$INSTDIR\\bin\""
      echo "  File \"$work/payload/bin/*.*\""
      echo "  SetOutPath \"\$INSTDIR\\licences\""
      echo "  File \"$work/payload/licences/*.*\""
    fi
    echo "SectionEnd"
  } >"$work/$1.nsi"
  seconds makensis -V1 "$work/$1.nsi"
}
pack_zlib=$(nsis nsis-zlib zlib 1)
pack_lzma=$(nsis nsis-lzma lzma 1)
nsis nsis-empty zlib 0 >/dev/null

export WINEPREFIX="$work/wine" WINEARCH=$winearch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
"$wine" wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p # one server for every run: each run pays only its own start and end
programs_dir="$WINEPREFIX/drive_c/Program Files"
[ "$arch" = 32 ] && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ] && \
  programs_dir="$WINEPREFIX/drive_c/Program Files (x86)"

check() { # folder
  diff -r "$work/payload" "$programs_dir/$1" >/dev/null ||
    { echo "bench-nsis: $1 does not hold the payload byte for byte" >&2; exit 1; }
}
# The five setups take turns, one installation each a round, so that a slower or faster spell
# of the machine falls on all of them alike rather than on one system's runs.
setups=(ours-empty.exe:-Quiet:none nsis-empty.exe:/S:Bench-nsis-empty ours.exe:-Quiet:BenchOurs
        nsis-zlib.exe:/S:Bench-nsis-zlib nsis-lzma.exe:/S:Bench-nsis-lzma)
declare -A times
for _ in $(seq "$runs"); do
  for setup in "${setups[@]}"; do
    IFS=: read -r exe switch folder <<<"$setup"
    rm -rf "${programs_dir:?}/$folder"
    times[$exe]+="$(seconds "$wine" "$work/$exe" "$switch") "
  done
done
median() { printf '%s\n' ${times[$1]} | sort -n | sed -n "$(((runs + 1) / 2))p"; }
check BenchOurs && check Bench-nsis-zlib && check Bench-nsis-lzma
empty_ours=$(median ours-empty.exe) empty_nsis=$(median nsis-empty.exe)
ours=$(median ours.exe) zlib=$(median nsis-zlib.exe) lzma=$(median nsis-lzma.exe)

net() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'payload: %s files, %s bytes; %s-bit setups under %s; median of %s silent installs\n\n' \
  "$files" "$bytes" "$arch" "$("$wine" --version)" "$runs"
printf '| system | installer bytes | pack s | silent install s | less an empty setup s |\n'
printf '|---|---|---|---|---|\n'
row() { printf '| %s | %s | %.2f | %.2f | %s |\n' "$1" "$(stat -c %s "$work/$2")" "$3" "$4" "$(net "$4" "$5")"; }
row "ours (ffspack)" ours.exe "$pack_ours" "$ours" "$empty_ours"
row "NSIS $(makensis -VERSION), zlib, solid" nsis-zlib.exe "$pack_zlib" "$zlib" "$empty_nsis"
row "NSIS $(makensis -VERSION), lzma, solid" nsis-lzma.exe "$pack_lzma" "$lzma" "$empty_nsis"
printf '\nempty setups: ours %.2f s, NSIS %.2f s\n' "$empty_ours" "$empty_nsis"
net_ours=$(net "$ours" "$empty_ours")
printf 'net install time, ours / NSIS zlib: %s; ours / NSIS lzma: %s\n' \
  "$(ratio "$net_ours" "$(net "$zlib" "$empty_nsis")")" "$(ratio "$net_ours" "$(net "$lzma" "$empty_nsis")")"
