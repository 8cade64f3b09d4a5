#!/usr/bin/env bash
# Fails when a C++ source of the project differs from what clang-format makes of it with the
# checked-in .clang-format; lists the files. `bash scripts/format-check.sh --fix` rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = "--fix" ] && fix=1
differing=()
while IFS= read -r file; do
  if [ $fix -eq 1 ]; then
    clang-format -i --style=file "$file"
  elif ! clang-format --style=file "$file" | cmp -s - "$file"; then
    differing+=("$file")
  fi
done < <(git ls-files '*.cpp' '*.h')
if [ ${#differing[@]} -gt 0 ]; then
  echo "format-check: these files differ from clang-format's layout (bash scripts/format-check.sh --fix):"
  printf '  %s\n' "${differing[@]}"
  exit 1
fi
echo "format-check: every source file is formatted"
