#!/usr/bin/env bash
# "Aktivace CZ" on a full disk, in hostsim: the installation's copy meets a full file system (a tiny
# tmpfs holding the host's own files, filled up, mounted over the host bundle's AIRMAX folder in a mount
# namespace of its own), and
# the box with the warning icon names the reason and asks to free space before running it again.
# Exits 77 (skipped) where no mount namespace can be made.
# Usage: full_disk_test.sh HOSTSIM ADDIN_FOLDER SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
hostsim="$1"
addin="$2"
source_dir="$3"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" full-disk
root="$work"

"$source_dir/samples/package/install.sh" "$root" >/dev/null
echo '# no add-in' >"$root/empty.txt"
"$hostsim" --root "$root" --offline --script "$root/empty.txt" >/dev/null
airmax="$root/Users/user/Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app/Contents/Resources/AIRMAX"
[ -d "$airmax" ] || fail_now "hostsim laid out no AIRMAX folder"
cat >"$root/story.txt" <<'SCRIPT'
load Orvandel
click idCzButton
waitfor "installation failed" 30
unload Orvandel
SCRIPT

namespace=(unshare -m)
[ "$(id -u)" = 0 ] || namespace=(unshare -rm)
if ! "${namespace[@]}" true 2>/dev/null; then
  echo "SKIP: no mount namespace here" >&2
  exit 77
fi
# shellcheck disable=SC2016 # expanded by the inner shell
"${namespace[@]}" bash -c '
  cp -R "$1" "$3/airmax-host" && mount -t tmpfs -o size=64k tmpfs "$1" || exit 77
  cp -R "$3/airmax-host/." "$1/" && { head -c 1M /dev/zero >"$1/filler" 2>/dev/null || true; }
  "$2" --root "$3" --offline --script "$3/story.txt" "$4"
' full-disk "$airmax" "$hostsim" "$root" "$addin" >"$root/transcript.txt" || {
  status=$?
  [ "$status" = 77 ] && { echo "SKIP: cannot mount a tmpfs here" >&2; exit 77; }
  fail_now "hostsim ended with status $status: $(cat "$root/transcript.txt")"
}

box=$(grep '^messagebox ' "$root/transcript.txt") || fail_now "no message box: $(cat "$root/transcript.txt")"
case "$box" in
*'"Instalace češtiny se nezdařila.\nSoubor: '*'\nDůvod: na disku není dost místa\nUvolněte místo na disku a spusťte instalaci znovu tlačítkem „Aktivace CZ“."'*'icon=Warning(3)'*) ;;
*) fail "the box does not ask for free space with the warning icon: $box" ;;
esac
exit "$failed"
