#!/bin/sh
# Stands for /usr/sbin/pkgutil in the update tests: `--check-signature FILE` prints the report in
# $STANDIN_REPORT and exits with $STANDIN_EXIT (default 0); the arguments go to $STANDIN_ARGUMENTS.
# With $STANDIN_DELAY it first sleeps that many seconds, a checker that takes its time.
# Usage: pkgutil_standin.sh --check-signature FILE
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
[ -n "$STANDIN_ARGUMENTS" ] && printf '%s\n' "$@" > "$STANDIN_ARGUMENTS"
[ "$1" = "--check-signature" ] && [ -f "$2" ] || exit 64
[ -n "$STANDIN_DELAY" ] && sleep "$STANDIN_DELAY"
cat "$STANDIN_REPORT"
exit "${STANDIN_EXIT:-0}"
