#!/usr/bin/env bash
# Fails when a C++ file of the tree does not follow .clang-format.
#   scripts/check-format.sh         check (what the test command runs)
#   scripts/check-format.sh --fix   rewrite the files in place
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked files and new ones not yet added (ignored ones left out).
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t files < <(find src tools tests bench fuzz res -name '*.cpp' -o -name '*.h' | sort)
fi
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/lirno-format.$$; then
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' /tmp/lirno-format.$$ | cut -d: -f1 | sort -u | \
    sed 's/^/not formatted: /' >&2
  rm -f /tmp/lirno-format.$$
  echo "Run scripts/check-format.sh --fix (clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -1))." >&2
  exit 1
fi
rm -f /tmp/lirno-format.$$
echo "Formatting: ${#files[@]} files follow .clang-format."
