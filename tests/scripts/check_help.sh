#!/usr/bin/env bash
# Every shell script of the repository answers --help: exit status 0 and a usage line, and nothing
# else done. A script is run only after its text shows that it handles --help, since one that does not
# would start its real work.
# Usage: tests/scripts/check_help.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="${1:?usage: check_help.sh SOURCE_DIR}"

scripts=()
while IFS= read -r file; do
  if head -n 1 "$source_dir/$file" 2>/dev/null | grep -qE '^#!.*(bash|/sh)'; then scripts+=("$file"); fi
done < <(cd "$source_dir" && git ls-files)
[ ${#scripts[@]} -gt 0 ] || { echo "no scripts found in $source_dir" >&2; exit 1; }

status=0
for script in "${scripts[@]}"; do
  if ! grep -q -- '--help' "$source_dir/$script"; then
    echo "FAIL $script: does not handle --help" >&2
    status=1
    continue
  fi
  if ! output="$(timeout 20 bash "$source_dir/$script" --help </dev/null 2>&1)"; then
    echo "FAIL $script: --help ended with an error" >&2
    status=1
  elif ! grep -qi 'usage:' <<<"$output"; then
    echo "FAIL $script: --help prints no usage line" >&2
    status=1
  else
    echo "ok   $script"
  fi
done
exit $status
