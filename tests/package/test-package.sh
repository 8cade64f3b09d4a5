#!/usr/bin/env bash
# The Debian package as a publisher gets it: unpacked into a scratch root (dpkg -x), its ffspack
# builds the example setup without --stub (it finds the stub and the uninstaller it carries)
# and verifies it, and so does a CMake project's `cpack -G External` through the CPack script;
# the package holds nothing else than ffspack, the stubs and the uninstallers of both machine
# types (i686, the shipped pair, and x86_64 in x64/), vm-run.sh, the robot of each type (for
# `ffspack test --screens`) and the CMake files. `build
# --arch x64` makes a PE32+ setup with the x64 pair; where the kernel runs no 32-bit programs,
# `ffspack test` of the i686 setup says where the x64 stub is and how to try the product.
#   bash tests/package/test-package.sh PACKAGE.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

dpkg -x "$deb" "$scratch"
listed=$(cd "$scratch" && find . -type f | sort | tr '\n' ' ')
expected="./usr/bin/ffspack ./usr/lib/tessel-install/robot.exe ./usr/lib/tessel-install/vm-run.sh \
./usr/lib/tessel-install/x64/robot.exe ./usr/share/tessel/cmake/TesselConfig.cmake \
./usr/share/tessel/cmake/TesselSetup.cmake ./usr/share/tessel/setup.exe ./usr/share/tessel/uninst.exe \
./usr/share/tessel/x64/setup.exe ./usr/share/tessel/x64/uninst.exe "
if [ "$listed" != "$expected" ]; then
  echo "package: unexpected contents: $listed" >&2
  exit 1
fi
# ffspack's LZMA encoder needs liblzma 5.4 (its LZMA1EXT filter).
if ! dpkg-deb -f "$deb" Depends | grep -q 'liblzma5 (>= 5.4)'; then
  echo "package: Depends lacks liblzma5 (>= 5.4): $(dpkg-deb -f "$deb" Depends)" >&2
  exit 1
fi
# A program's PE machine type and optional header magic, in hex: "14c 10b" (i686, PE32) or
# "8664 20b" (x86_64, PE32+).
pe_kind() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  printf '%x %x\n' "$(od -An -tu2 -j$((at + 4)) -N2 "$1" | tr -d ' ')" \
    "$(od -An -tu2 -j$((at + 24)) -N2 "$1" | tr -d ' ')"
}
for pair in "share/tessel/setup.exe 14c 10b" "share/tessel/uninst.exe 14c 10b" \
            "share/tessel/x64/setup.exe 8664 20b" "share/tessel/x64/uninst.exe 8664 20b" \
            "lib/tessel-install/robot.exe 14c 10b" "lib/tessel-install/x64/robot.exe 8664 20b"; do
  read -r file kind <<<"$pair"
  if [ "$(pe_kind "$scratch/usr/$file")" != "$kind" ]; then
    echo "package: $file is '$(pe_kind "$scratch/usr/$file")', not '$kind'" >&2
    exit 1
  fi
done
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
# --arch x64: the same product with the x64 stub and uninstaller, a PE32+ setup.
out=$("$ffspack" build --arch x64 -o "$scratch/setup-x64.exe" --script "$scratch/setup.txt" \
      --dir "$scratch/product")
echo "$out"
grep -q "bundled uninstaller: .*/share/tessel/x64/uninst.exe" <<<"$out" &&
  [ "$(pe_kind "$scratch/setup-x64.exe")" = "8664 20b" ] || {
  echo "package: build --arch x64 did not make an x64 setup with the x64 uninstaller" >&2
  exit 1
}
"$ffspack" verify "$scratch/setup-x64.exe"
# Where the kernel runs no 32-bit programs (here: its 32-bit loader hidden in a mount namespace
# of this test's own), `ffspack test` of the i686 setup goes to the virtual machine and says
# where the x64 stub is; the runner stands in for vm-run.sh and ends as one without qemu does.
if unshare -m --propagation private true 2>/dev/null && [ -e /lib/ld-linux.so.2 ]; then
  printf 'echo "vm-run: qemu-system-x86_64 is missing" >&2\nexit 125\n' >"$scratch/no-vm.sh"
  out=$(TESSEL_VM_RUN="$scratch/no-vm.sh" unshare -m --propagation private sh -c \
        'mount --bind /dev/null /lib/ld-linux.so.2 && exec "$0" test "$1"' \
        "$ffspack" "$scratch/setup.exe" 2>&1) && status=0 || status=$?
  echo "$out"
  advice="build it again with 'ffspack build --arch x64' (the x64 stub installed with ffspack: \
$scratch/usr/bin/../share/tessel/x64/setup.exe) and try that setup; ship the x86 one"
  [ "$status" = 1 ] && grep -qF "this machine's kernel cannot execute 32-bit programs" <<<"$out" &&
    [ "$(grep -cF "$advice" <<<"$out")" = 2 ] || {
    echo "package: ffspack test of the i686 setup did not say where the x64 stub is" >&2
    exit 1
  }
else
  echo "package: (no mount namespace here: the advice of ffspack test without 32-bit programs is not tried)"
fi
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
