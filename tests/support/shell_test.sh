# shellcheck shell=bash
# Sourced by the shell tests after their own --help handling: source shell_test.sh PREFIX.
# Makes $work, a new folder <TMPDIR, else /tmp>/PREFIX-XXXXXX that is removed when the test exits with
# status 0 and kept (and named on stderr) otherwise, and gives the two ways to report a failure:
# fail notes it and goes on (the test ends with exit "$failed"), fail_now ends the test at once.

work="$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")"
failed=0
trap 'if [ $? = 0 ]; then rm -rf "$work"; else echo "test files kept in $work" >&2; fi' EXIT

fail() {
  echo "FAIL: $*" >&2
  failed=1
}

fail_now() {
  echo "FAIL: $*" >&2
  exit 1
}
