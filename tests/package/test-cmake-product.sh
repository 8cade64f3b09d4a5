#!/usr/bin/env bash
# A CMake project packages itself: the example examples/cmake-product, built with the i686
# toolchain in a folder whose path has a blank, becomes a setup by `cpack -G External` through
# cmake/TesselSetup.cmake with FFSPACK and STUB; then a small project of the test's own meets
# every name and setting that the package script or ffspack refuses, each at its edge.
#   bash tests/package/test-cmake-product.sh FFSPACK STUB    (exit code 77: no STUB yet)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
ffspack=$1
stub=$2
cmake=${TESSEL_CMAKE:-cmake}
cpack=${TESSEL_CPACK:-cpack}
if [ ! -f "$stub" ]; then
  echo "cmake-product: no stub at $stub yet (it is built by a Windows tree)"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "cmake-product: FAIL: $*" >&2
  failures=$((failures + 1))
}

# The names an `ffspack list` shows, one a line (the name column; empty for an unnamed entry).
listed_names() { # setup, list arguments...
  "$ffspack" list "$@" | tail -n +3 |
    sed -E 's/^0x[0-9A-F]+ +[0-9]+ +[A-Za-z0-9+]+ +-?[0-9]+ +([0-9.]+%|\?)(  |$)//' | LC_ALL=C sort
}
# The compiled script of a setup as text: its command marker shown as '^', CR LF as LF.
script_of() { # setup
  rm -rf "$scratch/extracted"
  "$ffspack" extract "$1" -o "$scratch/extracted" install.dat >/dev/null
  tr '\026' '^' <"$scratch/extracted/install.dat" | tr -d '\r'
}

echo "---- the example: configure, build, cpack -G External"
build="$scratch/build dir"
"$cmake" -S "$root/examples/cmake-product" -B "$build" \
         -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DTessel_DIR="$root/cmake" \
         -DCPACK_TESSEL_FFSPACK="$ffspack" -DCPACK_TESSEL_STUB="$stub" >/dev/null
"$cmake" --build "$build" >/dev/null
(cd "$build" && "$cpack" -G External) >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log"
  echo "cmake-product: cpack failed" >&2
  exit 1
}
setup="$build/Rocket Launcher-2.1.0-win32.exe"
[ -f "$setup" ] || { echo "cmake-product: no '$setup'" >&2; exit 1; }
"$ffspack" verify "$setup" >/dev/null || fail "ffspack verify refuses the setup"
"$cmake" --install "$build" --prefix "$scratch/installed" >/dev/null
installed=$(cd "$scratch/installed" && find . -type f | sed 's|^\./||; s|/|\\|g' | LC_ALL=C sort)
[ "$(wc -l <<<"$installed")" -eq 6 ] || fail "the example installs 6 files: $installed"
expected=$(printf '%s\ninstall.dat\nuninst.exe\n' "$installed" | LC_ALL=C sort)
held=$(listed_names "$setup" --dir "$scratch/installed" install.dat uninst.exe)
[ "$held" = "$expected" ] || fail "the setup holds
$held
instead of every installed file, the script and the uninstaller:
$expected"
script=$(script_of "$setup")
file_list=$(sed -n 's/^\^FILE LIST://p' <<<"$script" | tr ',' '\n' | LC_ALL=C sort)
[ "$file_list" = "$installed" ] || fail "the FILE LIST is not every installed file: $file_list"
for line in '^COMPANY NAME:Acme Rockets' '^PRODUCT NAME:Rocket Launcher' '^PRODUCT VERSION:2.1.0' \
            '^INSTALL DIR:Acme Rockets\Rocket' '^UNINSTALL NAME:uninst.exe' \
            '^REGISTRY PATH:Software\Acme Rockets\Rocket' \
            '^CREATE GROUP:Acme Rockets\Rocket' '^ADD ITEM:0^bin\rocket.exe^^Rocket Launcher' \
            '^DONE:Rocket Launcher 2.1.0 is installed.'; do
  grep -qxF "$line" <<<"$script" || fail "the script lacks the line '$line'"
done
grep -qF "package: $setup generated" "$scratch/cpack.log" || fail "cpack did not report the setup"

echo "---- the same project installed as one tree (CPACK_MONOLITHIC_INSTALL): the same bytes"
cp "$setup" "$scratch/components.exe"
(cd "$build" && "$cpack" -G External -D CPACK_MONOLITHIC_INSTALL=ON) >"$scratch/cpack.log" 2>&1 ||
  fail "cpack of the monolithic install failed: $(cat "$scratch/cpack.log")"
cmp -s "$setup" "$scratch/components.exe" || fail "the monolithic install packs other bytes"
staging="$build/_CPack_Packages/win32/External/Rocket Launcher-2.1.0-win32"
held=$(listed_names "$setup" --dir "$staging" install.dat uninst.exe)
[ "$held" = "$expected" ] || fail "ffspack list --dir of the staging folder shows: $held"

echo "---- CPACK_TESSEL_SCRIPT: the project's own script, used as it is"
cat >"$scratch/own setup.txt" <<'EOF'
COMPANY NAME:Acme Rockets
PRODUCT NAME:Rocket Launcher
INSTALL DIR:Rocket
FILE LIST:docs\User Guide.txt
INSTALL PATH:Where?
INSTALL:
DONE:Lift-off.
EOF
rm -f "$setup"
(cd "$build" && "$cpack" -G External -D CPACK_TESSEL_SCRIPT="$scratch/own setup.txt") \
  >"$scratch/cpack.log" 2>&1 || fail "cpack with the project's own script failed"
[ -f "$setup" ] && script_of "$setup" | grep -qxF '^DONE:Lift-off.' ||
  fail "the setup does not carry the project's own script"
sed -i 's/^FILE LIST:.*/FILE LIST:docs\\User Guide.txt,docs\\missing.txt/' "$scratch/own setup.txt"
rm -f "$setup"
if (cd "$build" && "$cpack" -G External -D CPACK_TESSEL_SCRIPT="$scratch/own setup.txt") \
     >"$scratch/cpack.log" 2>&1; then
  fail "cpack succeeded with a FILE LIST item that the project does not install"
fi
grep -qF "FILE LIST: item 2 'docs\\missing.txt' is not among the entries" "$scratch/cpack.log" ||
  fail "cpack's output lacks ffspack's finding: $(cat "$scratch/cpack.log")"
[ ! -e "$setup" ] || fail "a failed build left a setup"

echo "---- names and settings at their edges"
small="$scratch/small"
mkdir -p "$small/src"
cat >"$small/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.19)
project(Small VERSION 1.0 LANGUAGES NONE)
install(DIRECTORY "${CMAKE_SOURCE_DIR}/files/" DESTINATION .)
# With SMALL_OUTSIDE in the environment of the install: a file beside the install prefix.
install(CODE [[
  if(DEFINED ENV{SMALL_OUTSIDE})
    file(WRITE "${CMAKE_INSTALL_PREFIX}/../beside.txt" x)
  endif()
]])
if(ABSOLUTE)
  install(FILES "${CMAKE_SOURCE_DIR}/CMakeLists.txt" DESTINATION "${ABSOLUTE}")
endif()
find_package(Tessel REQUIRED)
include(CPack)
EOF
configure_small() { # more cmake options...
  rm -rf "$small/build"
  "$cmake" -S "$small/src" -B "$small/build" -DTessel_DIR="$root/cmake" \
           -DCPACK_TESSEL_FFSPACK="$ffspack" -DCPACK_TESSEL_STUB="$stub" "$@" >/dev/null
}
long140=$(printf 'V%.0s' $(seq 140))
# One row: the refusal expected in cpack's output ("ok": the setup is built and verifies, and
# its script has the line CHECK), the files to install ("name" or "name=" for an empty file),
# then after "--" the cpack settings.
row() { # expected, check line, files..., --, cpack options...
  local expected=$1 check=$2
  shift 2
  rm -rf "$small/src/files"
  mkdir -p "$small/src/files"
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    mkdir -p "$(dirname "$small/src/files/${1%=}")"
    if [[ $1 == *= ]]; then : >"$small/src/files/${1%=}"; else echo "$1" >"$small/src/files/$1"; fi
    shift
  done
  [ $# -gt 0 ] && shift
  rm -f "$small/build"/Small-*.exe
  local result=0
  (cd "$small/build" && "$cpack" -G External "$@") >"$scratch/row.log" 2>&1 || result=$?
  local made
  made=$(ls "$small/build"/Small-*.exe 2>/dev/null || true)
  if [ "$expected" = ok ]; then
    if [ $result -ne 0 ] || [ -z "$made" ]; then
      fail "row '$check' was refused: $(cat "$scratch/row.log")"
    elif ! "$ffspack" verify "$made" >/dev/null; then
      fail "row '$check': the setup does not verify"
    elif ! script_of "$made" | grep -qxF "$check"; then
      fail "row '$check': the script lacks that line: $(script_of "$made")"
    fi
  elif [ $result -eq 0 ] || [ -n "$made" ]; then
    fail "row '$expected' was accepted"
  elif ! tr -s ' \n' ' ' <"$scratch/row.log" | grep -qF "$expected"; then
    fail "row '$expected': cpack said instead: $(cat "$scratch/row.log")"
  fi
}
configure_small
# Installed names: printable ASCII from blank to '~'; ',' and a leading '$' mean something to the
# setup; Windows refuses <>:"|?* in a name; uninst.exe at the top is the setup's own uninstaller.
row ok '^FILE LIST:a$x.txt,sub\$y.txt,sub\uninst.exe,~ x~.txt' 'a$x.txt' '~ x~.txt' \
    'sub/$y.txt' sub/uninst.exe --
row "'a,b.txt': ',' separates the items of the FILE LIST" - a,b.txt --
row "'\$x.txt': a '\$' at the start of an item is read as a path macro" - '$x.txt' --
row "'caf$(printf '\xc3\xa9').txt': the setup's script takes printable ASCII only" - \
    "caf$(printf '\xc3\xa9').txt" --
row "'del$(printf '\x7f').txt': the setup's script takes printable ASCII only" - \
    "del$(printf '\x7f').txt" --
row "'unit$(printf '\x1f').txt': the setup's script takes printable ASCII only" - \
    "unit$(printf '\x1f').txt" --
row "'a:b.txt': Windows refuses" - a:b.txt --
row "'a/b.txt': not found by that name" - 'a\b.txt' --
row "'a': not found by that name" - 'a;b.txt' --
row "the project installs 'uninst.exe'" - UNINST.EXE --
row "'empty.txt' is empty; an archive cannot hold an empty file" - a.txt empty.txt= --
# The CPack settings: names from the CPack variables, '|' written as '\|'; the lengths are
# ffspack's, its message reaches the cpack output: REGISTRY PATH, "Software\<vendor>\Small 1.0",
# holds 159 characters with a vendor of 140.
row ok "^REGISTRY PATH:Software\\$long140\\Small 1.0" a.txt -- -D "CPACK_PACKAGE_VENDOR=$long140"
row "REGISTRY PATH: argument 1 is 160 characters long" - a.txt -- \
    -D "CPACK_PACKAGE_VENDOR=${long140}W"
row ok '^COMPANY NAME:Acme | Sons' a.txt -- -D 'CPACK_PACKAGE_VENDOR=Acme | Sons'
row "CPACK_PACKAGE_VENDOR ('B$(printf '\xc3\xa4')r') holds a byte the setup cannot keep" - \
    a.txt -- -D "CPACK_PACKAGE_VENDOR=B$(printf '\xc3\xa4')r"
# Shortcuts: bin/<name>.exe as CPack's Windows generators have it, or the installed path itself.
row ok '^ADD ITEM:0^bin\tool.exe^^Tool' bin/tool.exe -- -D 'CPACK_PACKAGE_EXECUTABLES=tool;Tool'
row ok '^ADD ITEM:0^tools\run.exe^^Run' tools/run.exe -- \
    -D 'CPACK_PACKAGE_EXECUTABLES=tools/run.exe;Run'
row ok '^ADD ITEM:0^app\tool.exe^^Tool' app/tool.exe -- \
    -D 'CPACK_PACKAGE_EXECUTABLES=tool;Tool' -D CPACK_TESSEL_EXECUTABLES_DIRECTORY=app
row "CPACK_PACKAGE_EXECUTABLES names 'tool', which is not installed (looked for 'bin/tool.exe' \
or 'tool'): set CPACK_TESSEL_EXECUTABLES_DIRECTORY to the folder" - tool.txt -- \
    -D 'CPACK_PACKAGE_EXECUTABLES=tool;Tool'
row "CPACK_PACKAGE_EXECUTABLES takes pairs (executable;label): it has 3 items" - bin/tool.exe -- \
    -D 'CPACK_PACKAGE_EXECUTABLES=tool;Tool;other'
# Where CPack staged the files: below the packaging prefix, or below the install prefix with
# CPACK_SET_DESTDIR; the FILE LIST names them relative to it.
row ok '^FILE LIST:a.txt' a.txt -- -D CPACK_PACKAGING_INSTALL_PREFIX=/opt/small
row ok '^FILE LIST:a.txt' a.txt -- -D CPACK_SET_DESTDIR=ON
SMALL_OUTSIDE=1 row "is installed outside the install prefix '/opt/small'" - a.txt -- \
    -D CPACK_PACKAGING_INSTALL_PREFIX=/opt/small
# The builder's own settings reach its command line.
row "there is no uninstaller to store (cannot open '$scratch/none.exe'" - a.txt -- \
    -D "CPACK_TESSEL_UNINSTALLER=$scratch/none.exe"
row ok '^FILE LIST:a.txt' a.txt -- -D 'CPACK_TESSEL_FFSPACK_OPTIONS=--flags;2'
"$ffspack" list "$small/build/Small-1.0-Linux.exe" | head -1 | grep -q 'flags 0x2$' ||
  fail "CPACK_TESSEL_FFSPACK_OPTIONS did not reach ffspack"
row ok '^FILE LIST:a.txt' a.txt -- -D CPACK_TESSEL_CODEC=lzma
"$ffspack" list "$small/build/Small-1.0-Linux.exe" | grep -qE ' LZMA(\+x86)? ' ||
  fail "CPACK_TESSEL_CODEC did not reach ffspack: $("$ffspack" list "$small/build/Small-1.0-Linux.exe")"
row "codec is type2 (the default), lzma or store, not 'zip'" - a.txt -- -D CPACK_TESSEL_CODEC=zip
configure_small -DABSOLUTE="$scratch/absolute"
row "files installed to absolute destinations cannot go into a setup: $scratch/absolute" - \
    a.txt -- -D CPACK_SET_DESTDIR=ON

if [ $failures -gt 0 ]; then
  echo "cmake-product: $failures failed" >&2
  exit 1
fi
echo "cmake-product: OK (example setup $(stat -c %s "$scratch/components.exe") bytes)"
