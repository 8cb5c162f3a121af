#!/usr/bin/env bash
# Fails, naming each file, when a C++ file of the tree deviates from
# .clang-format. Run tools/check_format.sh --fix to reformat them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is not installed (Debian: clang-format)." >&2; exit 1; }
# Tracked files and new ones not yet added (but not what .gitignore leaves out).
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f" >&2
    bad=1
  fi
done
[ "$bad" -eq 0 ] || echo "Run tools/check_format.sh --fix to format them." >&2
exit "$bad"
