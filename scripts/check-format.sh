#!/usr/bin/env bash
# Fails when a committed C++ file is not formatted with the repository's .clang-format, or does not
# open with a comment saying what it is for (docs/STYLE.md). Lists every such file.
# Usage: scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
status=0

unformatted=()
for file in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then unformatted+=("$file"); fi
done
if (( ${#unformatted[@]} )); then
  echo "check-format: not formatted with .clang-format (run clang-format -i on them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  status=1
fi

uncommented=()
for file in "${files[@]}"; do
  IFS= read -r first < "$file" || true
  [[ "$first" == //* ]] || uncommented+=("$file")
done
if (( ${#uncommented[@]} )); then
  echo "check-format: no opening comment saying what the file is for:" >&2
  printf '  %s\n' "${uncommented[@]}" >&2
  status=1
fi

if (( status == 0 )); then echo "check-format: ${#files[@]} files formatted and introduced"; fi
exit $status
