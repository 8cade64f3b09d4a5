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
[ -f ./env.sh ] && . ./env.sh
status=0
for arch in win32 win64; do
  start=\$(date +%s)
  echo "---- ffspack test kestrel-setup.exe --arch \$arch"
  "$ffspack" test ./kestrel-setup.exe --arch \$arch --timeout 1200 || status=1
  echo "(\$arch prefix: \$((\$(date +%s) - start)) s)"
done
JOB
# TESSEL_I686_E2E names Windows tests (tests/e2e modules) that run in the virtual machine too,
# on the win32 tree under 32-bit Wine (where the kernel runs 32-bit programs, scripts/test.sh
# runs them all natively). Those that 32-bit changes most:
#   test_removal_trust  the shared-file counts and the install record in the 32-bit registry view
#   test_guardrails     the folder rules meet a 32-bit prefix: no syswow64, no Program Files (x86)
#   test_faults         every fault the setup meets, its pointer arithmetic and its clean-up
#   test_large          a file of 200 MB through a 32-bit address space with its memory bounded
# They are not run unless named: on a busy 2-core machine making their prefix took more than
# 20 minutes under emulation and one module of three tests half an hour. Their prefix is made
# first, outside the tests' time bounds, which are ten times the native ones.
cat >>"$job/job.sh" <<JOB
if [ -n "\${TESSEL_I686_E2E:-}" ]; then
  start=\$(date +%s)
  echo "---- Windows tests on the i686 build under 32-bit Wine: \$TESSEL_I686_E2E"
  "$root/build/win32/wine-run" cmd /c exit 0 >/dev/null 2>&1 || true
  for test in \$TESSEL_I686_E2E; do
    (cd "$root/tests/e2e" && TESSEL_BUILD="$root/build/win32" TESSEL_FFSPACK="$ffspack" \\
       TESSEL_TIMEOUT_SCALE=10 TESSEL_LARGE_MB=200 PYTHONDONTWRITEBYTECODE=1 \\
       xvfb-run -a -s "-screen 0 1024x768x24" python3 -m unittest \$test) || status=1
  done
  echo "(Windows tests: \$((\$(date +%s) - start)) s)"
fi
exit \$status
JOB
start=$(date +%s)
if [ "${TESSEL_I686_VM:-0}" = 1 ] || ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  where="in the virtual machine"
  status=0
  bound=2700
  if [ -n "${TESSEL_I686_E2E:-}" ]; then
    echo "TESSEL_I686_E2E='$TESSEL_I686_E2E'" >"$job/env.sh"
    bound=$((bound + 3600))
  fi
  bash scripts/vm-run.sh --timeout "$bound" "$job" || status=$?
else
  where="on this machine"
  status=0
  (cd "$job" && sh ./job.sh) || status=$?
fi
echo "i686 tryouts $where: $(($(date +%s) - start)) s, exit code $status"
exit "$status"
