#!/usr/bin/env bash
# The packaging scripts and the stand-ins for Apple's tools parse and pass shellcheck; the installer
# scripts as POSIX sh (the macOS installer runs them by their #! line, /bin/sh), so that the parse of
# dash and the sh dialect of shellcheck catch bashisms, in the script postinstall hands to the user on
# standard input too. postinstall itself is a /bin/bash script (it needs job control), held to what bash 3.2, the
# Mac's, knows. The distribution template is well-formed XML, its pages well-formed HTML.
# Usage: lint_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
packaging="$1/packaging/macos"
failed=0
for script in "$packaging"/scripts/preinstall "$packaging"/data-scripts/*; do
  [ "$(head -n 1 "$script")" = "#!/bin/sh" ] || { echo "FAIL: $script is not a #!/bin/sh script" >&2; failed=1; }
  dash -n "$script" || failed=1
done
postinstall="$packaging/scripts/postinstall"
[ "$(head -n 1 "$postinstall")" = "#!/bin/bash" ] || { echo "FAIL: $postinstall is not a #!/bin/bash script" >&2; failed=1; }
bash -n "$postinstall" || failed=1
# What bash 3.2 lacks: mapfile/readarray, associative arrays, case changes, namerefs, wait -n, -v tests,
# negative subscripts, &>> and |&.
if grep -nE '\b(mapfile|readarray)\b|declare -[aA]*A|\$\{[^}]*(,,|\^\^)|declare -n|wait -n|\[\[ -v|\[-[0-9]+\]|&>>|\|&' \
  "$postinstall"; then
  echo "FAIL: $postinstall uses what bash 3.2 lacks (lines above)" >&2
  failed=1
fi
bash -n "$packaging/build-pkg.sh" || failed=1
bash -n "$packaging/check-installed.sh" || failed=1
shellcheck --shell=sh "$packaging"/scripts/preinstall "$packaging"/data-scripts/* || failed=1
shellcheck "$postinstall" || failed=1
as_user=$(sed -n "/<<'AS_USER'/,/^AS_USER\$/p" "$packaging/scripts/postinstall" | sed '1d;$d')
[ -n "$as_user" ] || { echo "FAIL: postinstall hands no AS_USER script to the user" >&2; failed=1; }
dash -n <<<"$as_user" || failed=1
shellcheck --shell=sh - <<<"$as_user" || failed=1
shellcheck "$packaging/build-pkg.sh" "$packaging/check-installed.sh" "$1"/tests/packaging/*.sh || failed=1
shellcheck -x --shell=sh "$1"/tests/packaging/apple-tools/* || failed=1
xmllint --noout "$packaging/distribution.xml" || failed=1
xmllint --noout --html "$packaging"/resources/*.html || failed=1
exit "$failed"
