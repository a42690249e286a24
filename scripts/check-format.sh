#!/usr/bin/env bash
# Checks that every tracked C and C++ source file is laid out as .clang-format says, and names the
# files that are not. With --fix, formats them in place instead.
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

mode=(--dry-run --Werror)
case $# in
  0) ;;
  1) [ "$1" = "--fix" ] || { echo "usage: scripts/check-format.sh [--fix]" >&2; exit 2; }; mode=(-i) ;;
  *) echo "usage: scripts/check-format.sh [--fix]" >&2; exit 2 ;;
esac

# Tracked files only: build folders and untracked scratch files are not the repository's.
files=()
while IFS= read -r file; do files+=("$file"); done < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' '*.mm')
[ ${#files[@]} -gt 0 ] || { echo "check-format: no tracked sources found" >&2; exit 1; }
if ! clang-format "${mode[@]}" "${files[@]}"; then
  echo "check-format: the files above differ from .clang-format; scripts/check-format.sh --fix formats them" >&2
  exit 1
fi
