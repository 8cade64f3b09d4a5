#!/usr/bin/env bash
# The Debian package as a publisher gets it: unpacked into a scratch root (dpkg -x), its ffspack
# builds the example setup without --stub (it finds the stub and the uninstaller it carries)
# and verifies it, and so does a CMake project's `cpack -G External` through the CPack script;
# the package holds nothing else than ffspack, the stub, the uninstaller and the CMake files.
#   bash tests/package/test-package.sh PACKAGE.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

dpkg -x "$deb" "$scratch"
listed=$(cd "$scratch" && find . -type f | sort | tr '\n' ' ')
expected="./usr/bin/ffspack ./usr/lib/tessel-install/vm-run.sh ./usr/share/tessel/cmake/TesselConfig.cmake \
./usr/share/tessel/cmake/TesselSetup.cmake ./usr/share/tessel/setup.exe ./usr/share/tessel/uninst.exe "
if [ "$listed" != "$expected" ]; then
  echo "package: unexpected contents: $listed" >&2
  exit 1
fi
ffspack="$scratch/usr/bin/ffspack"
if ldd "$ffspack" | grep -q libasan; then
  echo "package: ffspack is the sanitized test build" >&2
  exit 1
fi
printf 'COMPANY NAME:Acme\nPRODUCT NAME:Rocket\nINSTALL DIR:Rocket\nUNINSTALL NAME:uninst.exe\nFILE LIST:readme.txt\nBREAK:\nINSTALL PATH:Where to?\nINSTALL:\nDONE:Rocket is installed.\n' \
  > "$scratch/setup.txt"
mkdir "$scratch/product"
printf 'Rocket 2.1\r\n' > "$scratch/product/readme.txt"
out=$("$ffspack" build -o "$scratch/setup.exe" --script "$scratch/setup.txt" --dir "$scratch/product")
echo "$out"
grep -q "bundled uninstaller: .*/share/tessel/uninst.exe" <<<"$out" || {
  echo "package: the uninstaller beside the stub was not bundled" >&2
  exit 1
}
"$ffspack" verify "$scratch/setup.exe"
# A CMake project finds the package's TesselConfig.cmake from the prefix; `cpack -G External`
# builds its setup with the package's ffspack, stub and uninstaller, none of them named.
mkdir "$scratch/project"
cp "$scratch/product/readme.txt" "$scratch/project/"
printf 'cmake_minimum_required(VERSION 3.19)\nproject(Rocket VERSION 2.1 LANGUAGES NONE)\ninstall(FILES readme.txt DESTINATION .)\nfind_package(Tessel REQUIRED)\ninclude(CPack)\n' \
  > "$scratch/project/CMakeLists.txt"
cmake -S "$scratch/project" -B "$scratch/project/build" -DCMAKE_PREFIX_PATH="$scratch/usr" >/dev/null
out=$(cd "$scratch/project/build" && cpack -G External 2>&1) || {
  echo "$out"
  echo "package: cpack -G External failed" >&2
  exit 1
}
grep -q "TesselSetup: $scratch/usr/bin/ffspack builds" <<<"$out" &&
  grep -q "bundled uninstaller: .*/share/tessel/uninst.exe" <<<"$out" || {
  echo "$out"
  echo "package: the CPack script did not take the package's ffspack and uninstaller" >&2
  exit 1
}
"$ffspack" verify "$scratch/project/build/Rocket-2.1-Linux.exe"
echo "package: OK ($(stat -c %s "$deb") bytes)"
