#!/usr/bin/env bash
# The Debian package as a publisher gets it: unpacked into a scratch root (dpkg -x), its ffspack
# builds the example setup without --stub (it finds the stub and the uninstaller it carries)
# and verifies it; the package holds nothing else than ffspack, the stub and the uninstaller.
#   bash tests/package/test-package.sh PACKAGE.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

dpkg -x "$deb" "$scratch"
listed=$(cd "$scratch" && find . -type f | sort | tr '\n' ' ')
expected="./usr/bin/ffspack ./usr/share/tessel/setup.exe ./usr/share/tessel/uninst.exe "
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
echo "package: OK ($(stat -c %s "$deb") bytes)"
