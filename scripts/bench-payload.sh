# The benchmarks' payloads of real files, shared by bench-pack.sh, bench-codec.sh and
# bench-nsis.sh. Sourced.
#
# `bench_payload FOLDER`: the 16 largest of Wine's i386 DLLs of at most 4 MB (in bin/) and 6
# licence texts (in licences/), about 54 MB. Wine builds several DLLs from one source (d3dx9_24
# to d3dx9_43, msvcp70 to msvcp140), so this payload repeats itself: six of its DLLs are the
# same bytes, and most of the others near copies of one another.
#
# `bench_payload_distinct FOLDER`: 16 DLLs of which no two are near copies, and the same 6
# licence texts, about 49 MB. One DLL for each name stem (the name less its trailing digits and
# underscores: d3dx9_36 and d3dx9_43 are one stem, d3dx), the largest of the stem of at most
# 4 MB, the 16 largest stems taken; the C runtimes (msvcr*, msvcrt*, ucrtbase, crtdll) count
# as one stem, for Wine builds them from one source. Checked when chosen with zstd --long over
# every pair (what the pair compressed together saves, against the smaller one alone): no two
# of the 16 share more than 7 %, where msvcrt and msvcrtd share 57 % and msvcr120 and ucrtbase
# 20 %.
BENCH_DLLS=/usr/lib/i386-linux-gnu/wine/i386-windows

bench_licences() { # FOLDER
  local licence
  mkdir -p "$1/licences"
  for licence in Apache-2.0 Artistic BSD GPL-2 GPL-3 LGPL-2.1; do
    cp "/usr/share/common-licenses/$licence" "$1/licences/$licence.txt"
  done
}

bench_payload() {
  local chosen name
  mkdir -p "$1/bin"
  mapfile -t chosen < <(ls -S "$BENCH_DLLS" | while read -r name; do
    [ "$(stat -c %s "$BENCH_DLLS/$name")" -le 4000000 ] && echo "$name"
  done 2>/dev/null | head -16)
  for name in "${chosen[@]}"; do cp "$BENCH_DLLS/$name" "$1/bin/"; done
  bench_licences "$1"
}

bench_payload_distinct() {
  local chosen name stem
  mkdir -p "$1/bin"
  mapfile -t chosen < <(ls -S "$BENCH_DLLS" | grep '\.dll$' | while read -r name; do
    [ "$(stat -c %s "$BENCH_DLLS/$name")" -le 4000000 ] || continue
    stem=$(echo "${name%.dll}" | sed 's/[0-9_]*$//; s/^\(msvcr\|ucrtbase\|crtdll\).*/crt/')
    echo "$stem $name"
  done 2>/dev/null | awk '!seen[$1]++ { print $2 }' | head -16)
  for name in "${chosen[@]}"; do cp "$BENCH_DLLS/$name" "$1/bin/"; done
  bench_licences "$1"
}
