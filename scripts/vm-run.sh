#!/usr/bin/env bash
# Runs a job script in a small virtual machine whose kernel executes 32-bit programs, for
# machines whose own kernel does not (so 32-bit Wine cannot start on them). The guest is
# Debian's amd64 kernel with a busybox initramfs, no disk: it sees this machine's root read-only
# (9p over virtio) under a tmpfs overlay, so /usr/lib/wine, wine32:i386 and the build trees are
# there as they are here, and the job folder read-write at /job. It runs `sh /job/job.sh` there
# as root, then powers off.
#   bash scripts/vm-run.sh [--timeout SECONDS] [--memory MB] [--cpus N] JOB_FOLDER
# The job's output (stdout and stderr) goes to JOB_FOLDER/output.txt and is shown as it comes;
# its exit code goes to JOB_FOLDER/exit-code and is this script's. 124: the guest still ran at
# the timeout (default 3600 s) and was ended; 125: the machine could not be started or ended
# without the job's exit code (JOB_FOLDER/console.log has the guest kernel's messages).
# The kernel and busybox are fetched once with `apt-get download` into TESSEL_VM_CACHE (default
# build/vm of this source tree, else ~/.cache/tessel-install/vm); qemu-system-x86 must be
# installed (scripts/bootstrap.sh does). The processors are emulated (TCG, about 15 times slower
# than this machine); TESSEL_VM_ACCEL=kvm uses KVM where it works.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
timeout=3600 memory=3072 cpus=2
usage() { echo "usage: vm-run.sh [--timeout SECONDS] [--memory MB] [--cpus N] JOB_FOLDER" >&2; exit 125; }
while [ $# -gt 1 ]; do
  case "$1" in
    --timeout) timeout=$2 ;;
    --memory) memory=$2 ;;
    --cpus) cpus=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[ $# -eq 1 ] || usage
for number in "$timeout" "$memory" "$cpus"; do
  [[ "$number" =~ ^[1-9][0-9]{0,5}$ ]] || usage
done
job=$(cd "$1" && pwd) || exit 125
[ -f "$job/job.sh" ] || { echo "vm-run: $job/job.sh is missing" >&2; exit 125; }
command -v qemu-system-x86_64 >/dev/null ||
  { echo "vm-run: qemu-system-x86_64 is missing (Debian package qemu-system-x86)" >&2; exit 125; }

if [ -n "${TESSEL_VM_CACHE:-}" ]; then
  cache=$TESSEL_VM_CACHE
elif [ -f "$here/../CMakeLists.txt" ]; then
  cache=$here/../build/vm
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/tessel-install/vm
fi
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# The modules that the guest loads, in the order of their dependencies.
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet
         9pnet_virtio netfs fscache 9p overlay)

# Fetches Debian's amd64 kernel (the one linux-image-amd64 names) and busybox-static once.
fetch() {
  [ -f "$cache/ready" ] && return 0
  echo "vm-run: fetching the guest's kernel and busybox into $cache (once)" >&2
  local kernel debs
  kernel=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  if [ -z "$kernel" ]; then
    [ "$(id -u)" -eq 0 ] && apt-get update -qq
    kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  fi
  [ -n "$kernel" ] || { echo "vm-run: apt knows no linux-image-amd64" >&2; return 1; }
  debs=$(mktemp -d "$cache/fetch.XXXXXX")
  (cd "$debs" && apt-get download -q "$kernel" busybox-static 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2) || true
  ls "$debs"/linux-image-*.deb "$debs"/busybox-static_*.deb >/dev/null || return 1
  rm -rf "$cache/kernel" "$cache/busybox"
  dpkg-deb -x "$debs"/linux-image-*.deb "$cache/kernel"
  dpkg-deb -x "$debs"/busybox-static_*.deb "$cache/busybox"
  rm -rf "$debs"
  touch "$cache/ready"
}
(
  flock 9
  fetch
) 9>"$cache/lock" || { echo "vm-run: cannot fetch the guest's kernel" >&2; exit 125; }
vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-* | head -n1)
moduleTree=$(ls -d "$cache"/kernel/lib/modules/* | head -n1)

scratch=$(mktemp -d)
qemu=""
cleanup() {
  [ -n "$qemu" ] && kill "$qemu" 2>/dev/null && wait "$qemu" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The initramfs: busybox, the modules, and an init that mounts the shares, runs the job and
# powers off. Made anew each run (a fraction of a second), so it always matches this script.
initramfs() {
  local tree=$scratch/initramfs
  mkdir -p "$tree/bin" "$tree/modules"
  cp "$cache/busybox/bin/busybox" "$tree/bin/busybox"
  for module in "${modules[@]}"; do
    find "$moduleTree/kernel" -name "$module.ko" -exec cp {} "$tree/modules/" \;
    [ -f "$tree/modules/$module.ko" ] || { echo "vm-run: module $module is missing" >&2; return 1; }
  done
  cat >"$tree/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /host /rw /root
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in ${modules[*]}; do insmod /modules/\$module.ko || echo "init: \$module not loaded"; done
share="-t 9p -o trans=virtio,version=9p2000.L,msize=512000"
mount \$share,ro,cache=loose host /host
mount -t tmpfs -o mode=0755 rw /rw
mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work overlay /root
mount -t proc proc /root/proc
mount -t sysfs sys /root/sys
mount -t devtmpfs dev /root/dev
mkdir -p /root/dev/pts /root/dev/shm /root/job
mount -t devpts devpts /root/dev/pts
mount -t tmpfs -o mode=1777 shm /root/dev/shm
mount -t tmpfs -o mode=1777 tmp /root/tmp
mount -t tmpfs -o mode=0755 run /root/run
mount \$share job /root/job
if [ -f /root/job/job.sh ]; then
  chroot /root /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/sh -c 'cd /job && exec sh ./job.sh' </dev/null >/root/job/output.txt 2>&1
  echo \$? >/root/job/exit-code
fi
sync
umount /root/job
poweroff -f
EOF
  chmod +x "$tree/init"
  (cd "$tree" && find . | "$tree/bin/busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$scratch/initramfs.gz"
}
initramfs || exit 125

# TCG unless asked: here /dev/kvm opens and takes a machine, whose processors then never run.
accel=tcg
[ "${TESSEL_VM_ACCEL:-}" = kvm ] && accel=kvm
rm -f "$job/output.txt" "$job/exit-code" "$job/console.log"
: >"$job/output.txt"
echo "vm-run: booting ($accel, $cpus processors, $memory MB), at most $timeout s" >&2
start=$(date +%s)
# TCG's "max" processor with SMAP crashes the guest kernel when Wine makes a prefix (QEMU 7.2).
qemu-system-x86_64 -accel "$accel" -cpu max,-smap -smp "$cpus" -m "$memory" \
  -nodefaults -no-reboot -display none -monitor none -serial "file:$job/console.log" \
  -kernel "$vmlinuz" -initrd "$scratch/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
  -fsdev local,id=host,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=host,mount_tag=host \
  -fsdev local,id=job,path="$job",security_model=none \
  -device virtio-9p-pci,fsdev=job,mount_tag=job \
  >"$scratch/qemu.txt" 2>&1 &
qemu=$!
tail -n +1 -f --pid="$qemu" "$job/output.txt" &
follower=$!
ended=0
while kill -0 "$qemu" 2>/dev/null; do
  if [ $(($(date +%s) - start)) -ge "$timeout" ]; then
    kill "$qemu" 2>/dev/null
    ended=1
    break
  fi
  sleep 1
done
wait "$qemu" 2>/dev/null || true
qemu=""
wait "$follower" 2>/dev/null || true
seconds=$(($(date +%s) - start))
if [ "$ended" = 1 ]; then
  echo "vm-run: the guest still ran after $timeout s and was ended" >&2
  exit 124
fi
if [ ! -s "$job/exit-code" ]; then
  echo "vm-run: the guest ended without the job's exit code after $seconds s" >&2
  grep -v 'multidevs' "$scratch/qemu.txt" >&2 || true
  tail -n 20 "$job/console.log" >&2 || true
  exit 125
fi
code=$(cat "$job/exit-code")
echo "vm-run: the job ended with $code after $seconds s ($accel)" >&2
exit "$code"
