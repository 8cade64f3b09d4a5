#!/usr/bin/env bash
# Builds the example setup (examples/hello) and runs it: installs what is missing, builds the
# builder and the stub, packs build/example/setup.exe, verifies it and runs it quietly under
# Wine with the debug log on; prints the log and the exit code. Where this machine's kernel
# cannot execute 32-bit programs, the same example is also packed with the 64-bit stub
# (build/example/setup-x64.exe) and that one is run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=2

bash scripts/bootstrap.sh >/dev/null
cmake -S . -B build/host -G "Unix Makefiles" >/dev/null
cmake --build build/host -j"$jobs" --target ffspack >/dev/null
ffspack=build/host/ffspack/ffspack
build_stub() { # build folder, toolchain file
  cmake -S . -B "$1" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" >/dev/null
  cmake --build "$1" -j"$jobs" --target setup | grep "stub size" || true
}
pack() { # stub, output
  "$ffspack" build --stub "$1" -o "$2" --script examples/hello/setup.txt --dir examples/hello/files
  "$ffspack" verify "$2"
}

mkdir -p build/example
build_stub build/win32 mingw-i686.cmake
pack build/win32/install/setup.exe build/example/setup.exe
tree=build/win32 setup=build/example/setup.exe
if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  echo "(this kernel cannot execute 32-bit programs: running the same setup built 64-bit)"
  build_stub build/win64 mingw-x86_64.cmake
  pack build/win64/install/setup.exe build/example/setup-x64.exe
  tree=build/win64 setup=build/example/setup-x64.exe
fi

rm -f build/example/debug.log
# A Wine prefix of the example's own (made on first use), so that each run installs afresh.
export TESSEL_WINEPREFIX="$root/build/example/wine"
rm -rf "$TESSEL_WINEPREFIX/drive_c/Program Files/Example Software" \
       "$TESSEL_WINEPREFIX/drive_c/Program Files (x86)/Example Software"
set +e
"$tree/wine-run" "$setup" -Quiet -debug
code=$?
set -e
echo "---- build/example/debug.log"
tr -d '\r' < build/example/debug.log
echo "---- installed"
(cd "$TESSEL_WINEPREFIX/drive_c" && find Program* -path '*Example Software*' -type f 2>/dev/null) || true
echo "---- exit code $code (1: the script ran to its end)"
