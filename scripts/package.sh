#!/usr/bin/env bash
# Builds what a publisher installs, optimised and without sanitizers: ffspack (build/release),
# the stub and the uninstaller (build/win32), and makes the Debian package from their install
# (build/release/tessel-install_*.deb). With a prefix argument it also installs there:
#   bash scripts/package.sh [PREFIX]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=2

bash scripts/bootstrap.sh >/dev/null
cmake -S . -B build/win32 -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      >/dev/null
cmake --build build/win32 -j"$jobs" --target setup uninst | grep "size" || true
cmake -S . -B build/release -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DTESSEL_SANITIZE=OFF -DTESSEL_TESTS=OFF \
      -DTESSEL_STUB_DIR="$root/build/win32/install" >/dev/null
cmake --build build/release -j"$jobs" --target ffspack >/dev/null
(cd build/release && cpack -G DEB >/dev/null)
ls build/release/tessel-install_*.deb
if [ $# -ge 1 ]; then
  cmake --install build/release --prefix "$1"
fi
