#!/usr/bin/env bash
# The i686 build, what publishers ship, in every test run: the Kestrel Clock example packed with
# the win32 tree's stub and uninstaller and tried with `ffspack test` in a 32-bit prefix and in
# a 64-bit prefix with 32-bit support (as on 64-bit Windows: Program Files (x86), the 32-bit
# registry view); each must install and remove everything. Where this machine's kernel cannot
# execute 32-bit programs, both run in one boot of the virtual machine (scripts/vm-run.sh, some
# 15 minutes under emulation); TESSEL_I686_VM=1 uses the machine anyway. Needs build/host's
# ffspack and build/win32's setup, uninst, kestrel_clock and kestrel_chime.
# Each Wine run may take 20 minutes: under emulation Wine took from 3.5 to more than 5 minutes
# to make a prefix (5 minutes, the default bound, cut one such run short).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
ffspack=$root/build/host/ffspack/ffspack
job=$root/build/i686-tryout
rm -rf "$job"
mkdir -p "$job"
bash examples/kestrel-clock/pack.sh "$ffspack" build/win32 "$job/kestrel-setup.exe" 2>&1 |
  grep -v '^note: '
# The job runs in its own folder (/job inside the machine).
cat >"$job/job.sh" <<JOB
status=0
for arch in win32 win64; do
  start=\$(date +%s)
  echo "---- ffspack test kestrel-setup.exe --arch \$arch"
  "$ffspack" test ./kestrel-setup.exe --arch \$arch --timeout 1200 || status=1
  echo "(\$arch prefix: \$((\$(date +%s) - start)) s)"
done
exit \$status
JOB
start=$(date +%s)
if [ "${TESSEL_I686_VM:-0}" = 1 ] || ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  where="in the virtual machine"
  status=0
  bash scripts/vm-run.sh --timeout 2700 "$job" || status=$?
else
  where="on this machine"
  status=0
  (cd "$job" && sh ./job.sh) || status=$?
fi
echo "i686 tryouts $where: $(($(date +%s) - start)) s, exit code $status"
exit "$status"
