#!/usr/bin/env bash
# scripts/check-bash32.sh: the scripts a Mac runs pass; each construct newer than bash 3.2 is found by
# file, line and the version it needs, and what bash 3.2 has (its look-alikes included) is left alone.
# Usage: tests/scripts/check_bash32_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="${1:?usage: check_bash32_test.sh SOURCE_DIR}"
check="$source_dir/scripts/check-bash32.sh"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" check-bash32-test

"$check" || fail "the scripts a Mac runs do not pass"

# Each line: the version the check must name, a tab, a line of script that needs it.
newer='4.0	mapfile -t files < <(ls)
4.0	  readarray lines <file
4.0	declare -A seen=()
4.0	local -A seen
4.0	echo "${name,,}"
4.0	echo "${list[0]^^}"
4.3	local -n result=$1
4.0	  a) echo a ;&
4.0	  b) echo b ;;&
4.0	make |& tee log
4.0	echo x &>>log
4.3	wait -n
4.2	if [[ -v name ]]; then :; fi
4.2	[ -v name ] || exit 1
4.3	echo "${list[-1]}"
4.3	list[-1]=x
4.4	echo "${name@Q}"
4.0	coproc cat
4.0	shopt -s globstar
4.1	exec {fd}>file
4.2	declare -g name=1
5.0	echo "$EPOCHSECONDS"
4.2	printf "%(%F)T" -1'
# Lines bash 3.2 runs, several of them near a construct above.
older='files=()
while IFS= read -r file; do files+=("$file"); done < <(ls)
# mapfile and declare -A and ${x,,} in a comment
echo "${name:-default} ${name%,*} ${name#^} ${#list[@]} ${list[${#list[@]}-1]}"
[ -n "$name" ] && codesign --verify -v file
case $x in a) echo a ;; esac
make 2>&1 | tee log
echo x >>log 2>&1
wait "$pid"
[[ $line =~ ^(a|b)$ ]] && echo "${BASH_REMATCH[1]}"
echo "mapfiles readarray.sh"
local -a list=(a b)'

while IFS=$'\t' read -r version line; do
  printf '#!/bin/bash\n\n%s\n' "$line" >"$work/new.sh"
  status=0
  out=$("$check" "$work/new.sh" 2>&1) || status=$?
  expect_failure "$line" "$work/new.sh:3: "
  grep -qF "needs bash $version;" <<<"$out" || fail "$line: bash $version not named: $out"
done <<<"$newer"
printf '#!/bin/bash\n%s\n' "$older" >"$work/old.sh"
out=$("$check" "$work/old.sh" 2>&1) || fail "bash 3.2 lines refused: $out"
exit "$failed"
