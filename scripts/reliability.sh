#!/usr/bin/env bash
# Prints, as a table for the README, what the robustness checks tried and how many of them failed:
# fuzz executions per target, installations and start-counter rewrites killed at random moments,
# network fault scenarios and uninstaller guard and failure cases (the tests that hold them, run anew).
# Usage: scripts/reliability.sh [fuzz seconds per target, default 15] [--build DIR]
#   --build DIR: an already built tree to take the tests from, instead of building the ci preset.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=15
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    *) seconds="$1"; shift ;;
  esac
done

scripts/setup.sh
if [ -z "$build" ]; then
  cmake --preset ci >/dev/null
  cmake --build --preset ci >&2
  build=build/ci
fi

# The tests that hold each kind of case, by name.
network='^(FetchTest\.(OtherSchemes|BothSchemeOptions|RedirectLoop|TextAnswerOverTheLimit|Stalled|Untrusted|FailedDownload|AnswersWithoutAKnownEnd|TrickleBelow|KilledDownload|RefusedFile|TargetThatCannot)|NewVersionTest\.(FailedLinkQuery|UnreachableLinkServer|FailedDownload|PinnedTeam|RefusedQuarantine|AddressWithALineBreak|MissingDownloadsFolder)|CheckTest\.FailedQuery)'
guards='^(Uninstall\.(EndsSilently|RemovesLinked|ReportsFileSystemError|DryRun|TreeBelowAPlainFile|RemovesTheGuideAddinOnly|UnreadableRecord)|RunUninstaller\.Refuses|UninstallerProgram\.(Refuses|ChangesNothing|RunStopped|RefusalInsideABundle))'

log="$(mktemp -d "${TMPDIR:-/tmp}/quorlex-reliability-XXXXXX")"
rows=()
total_failures=0
row() { # what, how many, failures
  rows+=("| $1 | $2 | $3 |")
  total_failures=$((total_failures + $3))
}

# Runs the tests whose names match a pattern; sets count and failed.
run_tests() {
  count="$(ctest --test-dir "$build" -N -R "$1" | sed -n 's/^Total Tests: //p')"
  failed=0
  if [ "${count:-0}" -gt 0 ] && ! ctest --test-dir "$build" -R "$1" -j2 >"$log/$2.log" 2>&1; then
    failed="$(sed -n 's/.*tests passed, \([0-9]*\) tests failed.*/\1/p' "$log/$2.log")"
    failed="${failed:-1}"
  fi
}

fuzz_status=0
QUORLEX_FUZZ_BUILD="${QUORLEX_FUZZ_BUILD:-build/fuzz}" scripts/fuzz.sh "$seconds" >"$log/fuzz.log" || fuzz_status=$?
while read -r _ target runs failures; do
  row "Fuzzing \`$target\`: executions in ${seconds} s" "$runs" "$failures"
done < <(grep '^fuzz ' "$log/fuzz.log")
if [ $fuzz_status -ne 0 ] && ! grep -q '^fuzz ' "$log/fuzz.log"; then
  row "Fuzzing (did not build or run: $log/fuzz.log)" 0 1
fi

crash_status=0
"$build/tests/crash/crash_tests" >"$log/crash.log" 2>&1 || crash_status=$?
install_line="$(grep 'install crash trials: .* kills' "$log/crash.log" || true)"
counter_line="$(grep 'counter crash trials: .* killed' "$log/crash.log" || true)"
install_failed="$(grep -c '^\[  FAILED  \] InstallCrash\.' "$log/crash.log" || true)"
counter_failed="$(grep -c '^\[  FAILED  \] CounterCrash\.' "$log/crash.log" || true)"
[ $crash_status -eq 0 ] || [ $((install_failed + counter_failed)) -gt 0 ] || install_failed=1
kills="$(sed -n 's/.* trials, \([0-9]*\) kills.*/\1/p' <<<"$install_line")"
trials="$(sed -n 's/.*: \([0-9]*\) trials.*/\1/p' <<<"$install_line")"
inside="$(sed -n 's/.* kills, \([0-9]*\) of them during.*/\1/p' <<<"$install_line")"
row "Installations killed (SIGKILL) at random moments, then run to the end: trials (kills, of them inside a run)" \
  "${trials:-0} (${kills:-0}, ${inside:-0})" "$install_failed"
counter_kills="$(sed -n 's/.* trials, \([0-9]*\) killed.*/\1/p' <<<"$counter_line")"
row "Start-counter rewrites killed (SIGKILL) at random moments" "${counter_kills:-0}" "$counter_failed"

run_tests "$network" network
row "Network fault scenarios (tests: refused schemes, redirect loop, oversized answer, stalls, untrusted certificate, failed transfers, answers without a known end, trickles, killed downloads, refused packages)" \
  "${count:-0}" "$failed"
run_tests "$guards" guards
row "Uninstaller guard and failure cases (tests: no home, wrong folder or home, links, file-system errors, a run finished by a second run, refusal inside a bundle, a tree below a plain file, an unreadable record, dry run)" \
  "${count:-0}" "$failed"

echo "| What was tried | How many | Failures |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ $total_failures -ne 0 ]; then
  echo "Failures: the logs are in $log" >&2
  exit 1
fi
rm -rf "$log"
