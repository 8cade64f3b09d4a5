#!/usr/bin/env bash
# The one test command: installs what is missing, configures and builds both trees, runs every
# test of both. The Windows tree runs under Wine; where this machine's kernel cannot execute
# 32-bit programs (so 32-bit Wine cannot start), the 32-bit tree is built and its programs are
# measured, and the same sources are built for x86_64 and their tests run under 64-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=2

bash scripts/bootstrap.sh
bash scripts/format-check.sh
python3 scripts/layers.py

echo "==== host tree"
cmake -S . -B build/host -G "Unix Makefiles" >/dev/null
cmake --build build/host -j"$jobs"
# cmake_product packs with the win32 tree's stub: it runs after that tree is built.
ctest --test-dir build/host -j"$jobs" --output-on-failure -E '^cmake_product$'

echo "==== host tree for i686 (the engine and ffspack as 32-bit programs, under qemu-i386-static)"
cmake -S . -B build/host-i686 -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i686.cmake" >/dev/null
cmake --build build/host-i686 -j"$jobs"
ctest --test-dir build/host-i686 -j"$jobs" --output-on-failure

ffspack="$root/build/host/ffspack/ffspack"
configure_windows() { # build folder, toolchain file
  cmake -S . -B "$1" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
        -DTESSEL_FFSPACK="$ffspack" >/dev/null
  cmake --build "$1" -j"$jobs"
}

echo "==== win32 tree"
configure_windows build/win32 mingw-i686.cmake

# Under emulation (a kernel without 32-bit programs) the try-outs take a quarter of an hour on
# one core: they run beside the rest, and their report is shown and counted at the end.
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  echo "==== the i686 Kestrel Clock setup in a 32-bit and a 64-bit prefix (ffspack test)"
  bash scripts/test-i686.sh
  i686_pid=""
else
  echo "==== the i686 Kestrel Clock setup in a 32-bit and a 64-bit prefix (ffspack test, in the virtual machine, beside the rest)"
  i686_log=build/i686-tryouts.log
  setsid bash scripts/test-i686.sh >"$i686_log" 2>&1 &
  i686_pid=$!
  # A step that fails below ends the command: the virtual machine goes with it.
  trap 'kill -- -"$i686_pid" 2>/dev/null || true' EXIT
fi

echo "==== Debian package (release ffspack, the win32 stub and uninstaller)"
bash scripts/package.sh
bash tests/package/test-package.sh build/release/tessel-install_*.deb
echo "==== a CMake project packages itself (examples/cmake-product, cpack -G External)"
ctest --test-dir build/host --output-on-failure -R '^cmake_product$'
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  windows_tree=build/win32
else
  echo "==== win64 tree (this kernel cannot execute 32-bit programs: Windows tests run 64-bit)"
  configure_windows build/win64 mingw-x86_64.cmake
  windows_tree=build/win64
fi
ctest --test-dir "$windows_tree" -j"$jobs" --output-on-failure
if [ -n "$i686_pid" ]; then
  echo "==== the i686 Kestrel Clock setup in a 32-bit and a 64-bit prefix (ffspack test, in the virtual machine)"
  status=0
  wait "$i686_pid" || status=$?
  trap - EXIT
  cat "$i686_log"
  [ "$status" -eq 0 ] || { echo "the i686 try-outs failed (exit code $status)"; exit "$status"; }
fi
