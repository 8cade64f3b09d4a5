#!/usr/bin/env bash
# Shows the example product's setup as a user meets it: packs Kestrel Clock
# (examples/kestrel-clock), runs it interactively under Xvfb in a Wine virtual desktop (windows
# with frames and titles), the test robot clicking through as a user would and saving the screen
# at each step; then starts the installed clock and removes the product with its uninstaller the
# same way. The shots become PNG files in the output folder (default docs/); what the setup
# installed and what the uninstaller left are printed.
#   bash scripts/demo.sh [OUTPUT_FOLDER]
# TESSEL_BUILD names a Windows build tree that is already built and TESSEL_FFSPACK its builder
# (the end-to-end test does so); without them the script builds what it needs.
# TESSEL_DEMO_WORK keeps the run's folder (prefix, setup, robot logs, snapshots) there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-docs}" && cd "${1:-docs}" && pwd)
width=800 height=600

# ---- The setup, packed from a built Windows tree
if [ -n "${TESSEL_BUILD:-}" ]; then
  tree=$(cd "$TESSEL_BUILD" && pwd)
  ffspack=${TESSEL_FFSPACK:?TESSEL_FFSPACK must name the builder of TESSEL_BUILD}
else
  bash scripts/bootstrap.sh >/dev/null
  cmake -S . -B build/host -G "Unix Makefiles" >/dev/null
  cmake --build build/host -j2 --target ffspack >/dev/null
  ffspack=$root/build/host/ffspack/ffspack
  tree=build/win32 toolchain=mingw-i686.cmake
  if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then # no 32-bit programs: 64-bit Wine
    tree=build/win64 toolchain=mingw-x86_64.cmake
  fi
  cmake -S . -B "$tree" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DTESSEL_FFSPACK="$ffspack" >/dev/null
  cmake --build "$tree" -j2 --target setup uninst robot kestrel_clock kestrel_chime >/dev/null
  tree=$root/$tree
fi
if [ -n "${TESSEL_DEMO_WORK:-}" ]; then
  work=$(mkdir -p "$TESSEL_DEMO_WORK" && cd "$TESSEL_DEMO_WORK" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
export TESSEL_WINEPREFIX="$work/wine" WINEPREFIX="$work/wine"
program_files="$work/wine/drive_c/Program Files/Kestrel Works/Kestrel Clock"

# The prefix's files (without the temporary folders) and registry values, one a line.
snapshot() { # output file
  python3 - "$WINEPREFIX" >"$1" <<'EOF'
import os, re, sys
prefix = sys.argv[1]
drive = os.path.join(prefix, "drive_c")
lines = []
for folder, folders, names in os.walk(drive):
    folders[:] = [f for f in folders if f.lower() != "temp"]
    for name in folders + names:
        path = os.path.relpath(os.path.join(folder, name), drive)
        lines.append("file C:\\" + path.replace("/", "\\"))
for file, root in (("system.reg", "HKLM"), ("user.reg", "HKCU")):
    key = None
    with open(os.path.join(prefix, file), encoding="utf-8", errors="replace") as registry:
        for line in registry:
            line = line.rstrip("\n")
            header = re.match(r"^\[(.*)\](?: \d+)?$", line)
            if header:
                key = root + "\\" + header.group(1).replace("\\\\", "\\")
                # Wine's own bookkeeping and the fonts it caches for every program.
                if re.match(r"^HK..\\(Software\\Wine|System\\|"
                            r"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts)", key):
                    key = None
            elif key and line and not line.startswith(("#", ";")):
                lines.append("reg %s %s" % (key, line))
print("\n".join(sorted(lines)))
EOF
}
# The lines of snapshot $2 that $1 lacks.
added() { LC_ALL=C comm -13 <(LC_ALL=C sort "$1") <(LC_ALL=C sort "$2"); }
windows_path() { echo "Z:${1//\//\\}"; }

# ---- Under the display: the prefix in a virtual desktop, the setup, the clock, the uninstaller
if [ "${TESSEL_DEMO_STAGE:-}" = display ]; then
  export TESSEL_WINE_DISPLAY="$DISPLAY"
  robot=$tree/tests/robot/robot.exe
  run_with_robot() { # name, program and arguments; the robot's rules in the array rules
    local name=$1 log="$work/$1.log" stop="$work/$1.stop" code=0
    shift
    rm -f "$log" "$stop"
    "$tree/wine-run" "$robot" --log "$(windows_path "$log")" --stop "$(windows_path "$stop")" \
      --default none --timeout 300 "${rules[@]}" >/dev/null 2>&1 &
    local robot_pid=$! waited=0
    until head -1 "$log" 2>/dev/null | grep -q ready; do
      sleep 0.2
      waited=$((waited + 1))
      [ $waited -lt 300 ] || { echo "demo: the robot did not start" >&2; exit 1; }
    done
    "$tree/wine-run" "$@" >/dev/null 2>&1 || code=$?
    touch "$stop"
    wait $robot_pid || true
    echo $code >"$work/$name.code"
  }
  shot() { echo "$(windows_path "$work/$1.bmp")"; }

  rules=(--shot "Welcome to Kestrel Clock=$(shot 1-welcome)"
         --press "Welcome to Kestrel Clock=Continue"
         --shot "Kestrel Clock licence=$(shot 2-licence)" --press "Kestrel Clock licence=I Accept"
         --shot "Where should Kestrel Clock=$(shot 3-folder)"
         --press "Where should Kestrel Clock=Continue"
         --press "Install Kestrel Clock into=Yes"
         --shot-window "Please wait...=$(shot 4-progress)"
         --shot "Kestrel Clock is installed=$(shot 5-done)" --press "Kestrel Clock is installed=OK")
  run_with_robot setup "$work/setup.exe" -debug
  wineserver -w # the registry is written to its files when the Wine server ends
  snapshot "$work/installed.txt"
  # The user starts the clock; the uninstaller closes it (the script's WINDOW line).
  "$tree/wine-run" "$program_files/clock.exe" >/dev/null 2>&1 &
  clock_pid=$!
  sleep 3
  rules=(--shot "Do you want to remove Kestrel Clock=$(shot 6-uninstall)"
         --press "Do you want to remove Kestrel Clock=Yes"
         --shot "was removed=$(shot 7-removed)" --press "was removed=OK")
  run_with_robot uninstall "$program_files/uninst.exe" -debug
  wait $clock_pid || true
  wineserver -w
  exit 0
fi

# ---- The run: a prefix of its own in a virtual desktop, then the display part
bash examples/kestrel-clock/pack.sh "$ffspack" "$tree" "$work/setup.exe" >/dev/null
rm -rf "$work/wine" "$work"/*.bmp
"$tree/wine-run" wineboot -i >/dev/null 2>&1
"$tree/wine-run" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$tree/wine-run" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
  /d "${width}x${height}" /f >/dev/null 2>&1
wineserver -w
snapshot "$work/before.txt"
TESSEL_DEMO_STAGE=display TESSEL_BUILD=$tree TESSEL_FFSPACK=$ffspack TESSEL_DEMO_WORK=$work \
  xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash "$0" "$out"
snapshot "$work/after.txt"

# ---- The shots as PNG files (zlib, one filter for every row: the row above)
for bmp in "$work"/*.bmp; do
  python3 - "$bmp" "$out/kestrel-$(basename "$bmp" .bmp).png" <<'EOF'
import struct, sys, zlib
source, target = sys.argv[1:]
data = open(source, "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
assert bits == 24 and height > 0, "not a bottom-up 24-bit BMP"
stride = (width * 3 + 3) & ~3
raw, above = bytearray(), bytes(width * 3)
for y in range(height):
    at = offset + (height - 1 - y) * stride
    row = bytearray(data[at:at + width * 3])
    row[0::3], row[2::3] = row[2::3], row[0::3]  # BGR to RGB
    raw += b"\2" + bytes((a - b) & 0xFF for a, b in zip(row, above))
    above = bytes(row)
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
open(target, "wb").write(png)
EOF
done

echo "setup (interactive): exit code $(cat "$work/setup.code") (1: the script ran to its end)"
echo "---- installed"
added "$work/before.txt" "$work/installed.txt" | sed 's/^/  /'
echo "uninstaller (interactive): exit code $(cat "$work/uninstall.code") (1: removed)"
echo "---- left behind"
left=$(added "$work/before.txt" "$work/after.txt")
echo "${left:-  nothing}"
echo "---- shots"
for png in "$out"/kestrel-*.png; do
  echo "  $png $(stat -c %s "$png") bytes"
done
