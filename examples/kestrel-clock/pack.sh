#!/usr/bin/env bash
# Packs Kestrel Clock's setup as a publisher does: checks the script against the product's
# files (this folder's files/, the program and COM server a Windows build tree made, the
# backdrop's font, DejaVu Serif Bold of the fonts-dejavu-core package renamed Kestrel Serif,
# and its licence, and the hour strikes that make-chimes.py makes), builds the setup with that
# tree's stub and uninstaller, and verifies it. OPTIONS go to the build (e.g. --codec lzma).
#   bash examples/kestrel-clock/pack.sh FFSPACK WINDOWS_TREE SETUP [OPTIONS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ffspack=$1 tree=$2 setup=$3
shift 3
fonts=/usr/share/fonts/truetype/dejavu
for needed in "$tree/examples/kestrel-clock/clock.exe" "$tree/examples/kestrel-clock/chime.dll" \
              "$fonts/DejaVuSerif-Bold.ttf" /usr/share/doc/fonts-dejavu-core/copyright; do
  [ -f "$needed" ] || { echo "pack.sh: $needed is missing" >&2; exit 1; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python3 "$here/make-chimes.py" "$scratch/made/sounds"
python3 "$here/rename-font.py" "$fonts/DejaVuSerif-Bold.ttf" "$scratch/KestrelSerif-Bold.ttf" \
        "DejaVu Serif" "Kestrel Serif"
entries=(--dir "$here/files" --dir "$scratch/made"
         "clock.exe=$tree/examples/kestrel-clock/clock.exe"
         "bin\\chime.dll=$tree/examples/kestrel-clock/chime.dll"
         "KestrelSerif-Bold.ttf=$scratch/KestrelSerif-Bold.ttf"
         "docs\\fonts\\DejaVu licence.txt=/usr/share/doc/fonts-dejavu-core/copyright")
"$ffspack" check "$here/setup.txt" --stub "$tree/install/setup.exe" "${entries[@]}"
"$ffspack" build --stub "$tree/install/setup.exe" -o "$setup" --script "$here/setup.txt" \
           "${entries[@]}" "$@"
"$ffspack" verify "$setup"
