#!/usr/bin/env bash
# Checks that the shell scripts a Mac runs use nothing newer than bash 3.2, the /bin/bash of every Mac
# and of the macOS runners: mapfile, associative arrays, case conversion, namerefs, fall-through in case,
# |&, &>>, wait -n, -v tests, negative subscripts, ${x@Q} and the like. Names each finding as FILE:LINE,
# the construct and the bash version it needs. Comment lines are not read.
# The scripts a Mac runs: every script under packaging/macos, every script the macOS workflow
# (.github/workflows/macos.yml) names, and the scripts of the test folders whose tests carry the label
# portable (the workflow's tests job runs them). With FILE arguments, checks those files instead.
# Usage: scripts/check-bash32.sh [FILE...]
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

# is_shell FILE: FILE starts with a bash or sh line.
is_shell() {
  head -n 1 "$1" 2>/dev/null | grep -qE '^#!.*(bash|/sh)'
}

files=()
if [ $# -gt 0 ]; then
  files=("$@")
else
  while IFS= read -r file; do
    if is_shell "$file"; then files+=("$file"); fi
  done < <(
    git ls-files -- packaging/macos
    sed 's/^[[:space:]]*#.*//' .github/workflows/macos.yml | grep -oE '(scripts|packaging|tests)/[A-Za-z0-9_./-]+\.sh' |
      sort -u
    grep -lE 'LABELS[^)]*\bportable\b' tests/*/CMakeLists.txt | while IFS= read -r list; do
      git ls-files -- "$(dirname "$list")"
    done
  )
fi
[ ${#files[@]} -gt 0 ] || { echo "check-bash32: no scripts to check" >&2; exit 1; }

# Each rule: the bash version, the construct, a tab, the pattern (grep -E) that finds it.
read -r -d '' rules <<'RULES' || true
4.0 mapfile/readarray	(^|[^[:alnum:]_.-])(mapfile|readarray)([[:space:]]|$)
4.0 an associative array (declare -A)	(^|[[:space:];])(declare|local|typeset|readonly)[[:space:]]+-[[:alpha:]]*A
4.0 case conversion (${x,,}, ${x^^})	\$\{[[:alpha:]_][[:alnum:]_]*(\[[^]]*\])?[,^]
4.0 case conversion (declare -l/-u)	(^|[[:space:];])(declare|local|typeset)[[:space:]]+-[[:alpha:]]*[lu]
4.3 a nameref (declare -n)	(^|[[:space:];])(declare|local|typeset)[[:space:]]+-[[:alpha:]]*n
4.0 fall-through in case (;& or ;;&)	;;?&
4.0 |& (use 2>&1 |)	\|&
4.0 &>> (use >>FILE 2>&1)	&>>
4.3 wait -n	(^|[[:space:];&|])wait[[:space:]]+-[[:alpha:]]*n
4.2 a -v test (use ${x+set})	(\[\[?|test|&&|\|\||!)[[:space:]]+-v[[:space:]]
4.3 a negative subscript	(\$\{[[:alpha:]_][[:alnum:]_]*|^[[:space:]]*[[:alpha:]_][[:alnum:]_]*)\[-[0-9]
4.4 a transformation (${x@Q})	\$\{[[:alpha:]_][[:alnum:]_]*(\[[^]]*\])?@[[:alpha:]]\}
4.0 coproc	(^|[[:space:];])coproc[[:space:]]
4.0 globstar or lastpipe	shopt[[:space:]]+-s[[:space:]].*(globstar|lastpipe)
4.1 a descriptor in a variable ({fd}>)	(^|[[:space:]])\{[[:alpha:]_][[:alnum:]_]*\}[<>]
4.2 declare -g	(^|[[:space:];])(declare|typeset)[[:space:]]+-[[:alpha:]]*g
5.0 $EPOCHSECONDS or $EPOCHREALTIME	\$\{?EPOCH(SECONDS|REALTIME)
4.2 printf's time format (%(...)T)	printf[[:space:]].*%\(
RULES

status=0
for file in "${files[@]}"; do
  [ -f "$file" ] || { echo "check-bash32: no file $file" >&2; status=1; continue; }
  # The text with its comment lines blanked, so that line numbers stay.
  text=$(sed 's/^[[:space:]]*#.*//' "$file")
  while IFS=$'\t' read -r what pattern; do
    while IFS= read -r hit; do
      [ -n "$hit" ] || continue
      echo "$file:${hit%%:*}: ${what#* } needs bash ${what%% *}; a Mac's /bin/bash is 3.2" >&2
      status=1
    done < <(grep -nE -- "$pattern" <<<"$text" || true)
  done <<<"$rules"
done
[ $status -eq 0 ] || echo "check-bash32: the scripts above do not run on a Mac's bash 3.2" >&2
exit $status
