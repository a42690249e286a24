#!/usr/bin/env bash
# The whole removal in hostsim: the host's files are laid out, "Aktivace CZ" installs the Czech files, the
# host changes one of them, then the uninstaller runs from the add-in folder. Afterwards the bundle must
# hold the host's own files and the changed one (named in the output) and nothing else, both add-in
# folders must be gone, and the notes must come before the closing message.
# Usage: hostsim_uninstall.sh HOSTSIM ORVANDEL_FOLDER MIRAVELO_FOLDER SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
hostsim="$1"
orvandel="$2"
miravelo="$3"
source_dir="$4"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" uninstaller-story
root="$work"

"$source_dir/samples/package/install.sh" "$root" >/dev/null
home="$root/Users/user"
bundle="$home/Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app"
addins="$home/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
files_of() { (cd "$1" && find . ! -type d | LC_ALL=C sort); }
folders_of() { (cd "$1" && find . -type d | LC_ALL=C sort); }

# The host alone: its own files, before anything is installed.
echo '# no add-in' >"$root/empty.txt"
"$hostsim" --root "$root" --offline --script "$root/empty.txt" >"$root/layout.txt"
files_of "$bundle" >"$root/host-files.txt"
folders_of "$bundle" >"$root/host-folders.txt"
[ -s "$root/host-files.txt" ] || fail_now "hostsim laid out no host files"

cat >"$root/install.txt" <<'SCRIPT'
load Orvandel
load Miravelo
click idCzButton
waitfor "(CopyCzechFiles) finish successful"
unload Miravelo
unload Orvandel
SCRIPT
"$hostsim" --root "$root" --offline --script "$root/install.txt" "$orvandel" "$miravelo" >"$root/install-transcript.txt"
changed="./Contents/Resources/AIRMAX/cs-CZ/main_cs.qm"
[ -f "$bundle/$changed" ] || fail_now "the click installed no $changed"
[ -f "$addins/Orvandel/Orvandel_InstallRecord.txt" ] || fail_now "the installer wrote no install record"
echo "changed by the host" >>"$bundle/$changed"

cat >"$root/uninstall.txt" <<'SCRIPT'
run ~/Library/Application\ Support/Autodesk/Autodesk\ Fusion\ 360/API/AddIns/Orvandel/uninstaller
SCRIPT
"$hostsim" --root "$root" --offline --script "$root/uninstall.txt" >"$root/transcript.txt"

line="$(grep '^program ' "$root/transcript.txt")" || fail_now "no program event"
case "$line" in
*'-> exit 0 '*) ;;
*) fail_now "the uninstaller did not exit 0: $line" ;;
esac
# Readable lines escape the output: a newline reads \n.
closing='\n\n*****************************\nSoubory s lokalizaci a AddInu byly odstraneny.\nOkno Terminalu je mozne uzavrit\n*****************************\n\n'
case "$line" in
*"stdout=\"Zůstává: \\\"$bundle/${changed#./}\\\" ("*"Preferences > General > Language"*"sudo rm -rf \\\"/Library/Vornid\\\""*"$closing\""*) ;;
*) fail_now "the output lacks the kept file, the notes or the closing message last: $line" ;;
esac

{
  cat "$root/host-files.txt"
  echo "$changed"
} | LC_ALL=C sort >"$root/expected-files.txt"
files_of "$bundle" >"$root/actual-files.txt"
diff -u "$root/expected-files.txt" "$root/actual-files.txt" || fail_now "the bundle holds other files than the host's own and the changed one"
# The folders the installer made go too, but for the one that holds the changed file.
{
  cat "$root/host-folders.txt"
  dirname "$changed"
} | LC_ALL=C sort -u >"$root/expected-folders.txt"
folders_of "$bundle" >"$root/actual-folders.txt"
diff -u "$root/expected-folders.txt" "$root/actual-folders.txt" || fail_now "the bundle holds other folders than the host's own"
[ ! -e "$addins/Orvandel" ] || fail_now "the add-in folder Orvandel is still there"
[ ! -e "$addins/Miravelo" ] || fail_now "the add-in folder Miravelo is still there"
[ -d "$addins" ] || fail_now "the AddIns folder itself was removed"
