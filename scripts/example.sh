#!/usr/bin/env bash
# Builds the example setup and tries it: installs what is missing, builds the builder, the stub,
# the uninstaller and the example product's program and COM server (examples/kestrel-clock,
# Kestrel Clock: a product that uses every command a publisher would), packs
# build/example/kestrel-setup.exe as a publisher does (ffspack check, build, verify) and runs
# `ffspack test` on it: a quiet installation in a throw-away Wine prefix, what it installed (files,
# shortcuts, registry values, uninstall entry, exit code), then the quiet removal by its
# uninstaller and what is left. Where this machine's kernel cannot execute 32-bit programs, the
# same example is also packed with the 64-bit stub (build/example/kestrel-setup-x64.exe) and that
# one is tried. TESSEL_BUILD_PREFIX (default build/) names the trees: <prefix>host, win32, win64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=2
prefix=${TESSEL_BUILD_PREFIX:-build/}

bash scripts/bootstrap.sh >/dev/null
cmake -S . -B "${prefix}host" -G "Unix Makefiles" >/dev/null
cmake --build "${prefix}host" -j"$jobs" --target ffspack >/dev/null
ffspack=$root/${prefix}host/ffspack/ffspack
build_windows() { # build folder, toolchain file
  cmake -S . -B "$1" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
        -DTESSEL_FFSPACK="$ffspack" >/dev/null
  cmake --build "$1" -j"$jobs" --target setup uninst kestrel_clock kestrel_chime |
    grep "stub size" || true
}
pack() { # Windows tree, setup
  echo "---- packing $2"
  bash examples/kestrel-clock/pack.sh "$ffspack" "$1" "$2" 2>&1 | grep -v '^note: '
}

mkdir -p build/example
build_windows "${prefix}win32" mingw-i686.cmake
pack "${prefix}win32" build/example/kestrel-setup.exe
setup=build/example/kestrel-setup.exe
if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  echo "(this kernel cannot execute 32-bit programs: trying the same setup built 64-bit)"
  build_windows "${prefix}win64" mingw-x86_64.cmake
  pack "${prefix}win64" build/example/kestrel-setup-x64.exe
  setup=build/example/kestrel-setup-x64.exe
fi

echo "---- ffspack test $setup"
"$ffspack" test "$setup"
