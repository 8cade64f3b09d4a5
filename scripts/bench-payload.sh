# The benchmarks' payload of real files, shared by bench-pack.sh, bench-codec.sh and
# bench-nsis.sh: the 16 largest of Wine's i386 DLLs of at most 4 MB (in bin/) and 6 licence
# texts (in licences/), about 54 MB. Sourced; `bench_payload FOLDER` fills FOLDER.
bench_payload() {
  local dlls=/usr/lib/i386-linux-gnu/wine/i386-windows chosen name licence
  mkdir -p "$1/bin" "$1/licences"
  mapfile -t chosen < <(ls -S "$dlls" | while read -r name; do
    [ "$(stat -c %s "$dlls/$name")" -le 4000000 ] && echo "$name"
  done 2>/dev/null | head -16)
  for name in "${chosen[@]}"; do cp "$dlls/$name" "$1/bin/"; done
  for licence in Apache-2.0 Artistic BSD GPL-2 GPL-3 LGPL-2.1; do
    cp "/usr/share/common-licenses/$licence" "$1/licences/$licence.txt"
  done
}
