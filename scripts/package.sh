#!/usr/bin/env bash
# Builds what a publisher installs, optimised and without sanitizers: ffspack (build/release),
# the stub and the uninstaller of both machine types (i686 from build/win32, the shipped one;
# x86_64 from build/win64), and makes the Debian package from their install
# (build/release/tessel-install_*.deb). With a prefix argument it also installs there:
#   bash scripts/package.sh [PREFIX]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=2

bash scripts/bootstrap.sh >/dev/null
for bits in 32 64; do
  toolchain=mingw-i686.cmake
  [ $bits = 32 ] || toolchain=mingw-x86_64.cmake
  cmake -S . -B build/win$bits -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        >/dev/null
  # A failed build stops the packaging with its output: never a package of stale programs.
  log=build/win$bits-package.log
  mkdir -p build
  cmake --build build/win$bits -j"$jobs" --target setup uninst robot >"$log" 2>&1 ||
    { cat "$log"; echo "package: the win$bits programs did not build" >&2; exit 1; }
  grep "size" "$log" || true
done
cmake -S . -B build/release -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DTESSEL_SANITIZE=OFF -DTESSEL_TESTS=OFF \
      -DTESSEL_STUB_DIR="$root/build/win32/install" -DTESSEL_STUB_DIR_X64="$root/build/win64/install" \
      >/dev/null
cmake --build build/release -j"$jobs" --target ffspack >/dev/null
(cd build/release && cpack -G DEB >/dev/null)
ls build/release/tessel-install_*.deb
if [ $# -ge 1 ]; then
  cmake --install build/release --prefix "$1"
fi
