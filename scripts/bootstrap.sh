#!/usr/bin/env bash
# Installs what the two build trees and the tests need on a fresh Debian machine.
# Idempotent: a machine that has everything skips apt entirely.
set -euo pipefail

packages=(cmake osslsigncode openssl libssl-dev libssl-dev:i386 liblzma-dev liblzma-dev:i386 dpkg-dev file g++ make clang clang-format libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth python3
          fonts-dejavu-core
          g++-multilib libgtest-dev:i386 qemu-user-static
          qemu-system-x86)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then: try again, and if
# it still fails, install from the indexes that did arrive (the install
# itself says so if a package cannot be had).
for attempt in 1 2 3 4; do
  $SUDO apt-get update -qq && break
  echo "bootstrap: package index update failed (attempt $attempt of 4)"
  [ "$attempt" -lt 4 ] && sleep $((attempt * 15))
done
for attempt in 1 2 3; do
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null && break
  [ "$attempt" -eq 3 ] && { echo "bootstrap: could not install ${missing[*]}"; exit 1; }
  echo "bootstrap: install failed (attempt $attempt of 3), fetching the indexes again"
  sleep 20
  $SUDO apt-get update -qq || true
done
echo "bootstrap: done"
