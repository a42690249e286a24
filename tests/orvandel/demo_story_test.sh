#!/usr/bin/env bash
# The demo's story, played twice on two simulated Macs laid out alike, gives the same readable
# transcript once the Mac's folder and the server's port are masked: the order of what the user sees
# does not hang on the timing of the add-ins' threads.
# Usage: demo_story_test.sh HOSTSIM ADDINS_DIR MAKER_SERVER CA_FILE SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
hostsim="$1"
addins="$2"
maker_server="$3"
ca_file="$4"
source_dir="$5"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" demo-story

# play N: the story on a new simulated Mac, its masked transcript in $work/masked-N.txt.
play() {
  local root="$work/mac-$1" port=
  "$source_dir/samples/package/install.sh" "$root"
  local old="$root/Users/user/Library/Application Support/Autodesk/webdeploy/production/oldbuild"
  old="$old/Autodesk Fusion 360.app/Contents/Libraries"
  mkdir -p "$old/Neutron/StringTable/cs-CZ"
  echo old >"$old/Neutron/StringTable/cs-CZ/Neutron.xml"

  # The file is there before the server's shell opens it, so that the first look finds it.
  : >"$work/server-$1.out"
  "$maker_server" --quiet >"$work/server-$1.out" 2>&1 &
  local server=$! status=0
  for _ in $(seq 100); do
    port=$(head -n 1 "$work/server-$1.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -n "$port" ]; then
    "$hostsim" --root "$root" --server "https://127.0.0.1:$port" --cafile "$ca_file" \
      --script "$source_dir/samples/demo/story.hostsim" "$addins/Orvandel" "$addins/Miravelo" \
      >"$work/transcript-$1.txt" || status=$?
  fi
  kill "$server"
  wait "$server" 2>/dev/null || true
  [ -n "$port" ] || fail_now "the maker's server did not start"
  [ "$status" = 0 ] || fail_now "hostsim ended with status $status (run $1)"
  sed -e "s|$root|ROOT|g" -e "s|127\.0\.0\.1:$port|127.0.0.1:PORT|g" "$work/transcript-$1.txt" >"$work/masked-$1.txt"
}

play 1
play 2
grep -q 'CopyCzechFiles) finish successful' "$work/masked-1.txt" || fail "the story installed nothing"
grep -q '^program .* -> exit 0 ' "$work/masked-1.txt" || fail "the story's uninstaller did not end well"
if grep -q '^custom_event ' "$work/masked-1.txt"; then fail "plumbing in the readable transcript"; fi
diff -u "$work/masked-1.txt" "$work/masked-2.txt" || fail "two plays of the same story differ"
exit "$failed"
