#!/usr/bin/env bash
# The language add-in's story in hostsim, on the sample package: the first online start installs and
# cleans up an older build, a click installs again, and after a restart the installed files stop the
# unforced run. Compares the add-in's part of the transcript and the resulting files.
# Usage: hostsim_story.sh HOSTSIM ADDIN_FOLDER SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
hostsim="$1"
addin="$2"
source_dir="$3"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" orvandel-story
root="$work"

"$source_dir/samples/package/install.sh" "$root"
production="$root/Users/user/Library/Application Support/Autodesk/webdeploy/production"
old="$production/oldbuild/Autodesk Fusion 360.app/Contents/Libraries"
mkdir -p "$old/Neutron/StringTable/cs-CZ" "$old/Applications/CAM360/Data/Translations"
echo old > "$old/Neutron/StringTable/cs-CZ/Neutron.xml"
echo old > "$old/Applications/CAM360/Data/Translations/czech_cz.xml"
echo host > "$old/Applications/CAM360/Data/Translations/english.xml"

cat > "$root/story.txt" <<'SCRIPT'
load Orvandel
online
waitfor "(CheckNewVersion) start function"
click idCzButton
waitfor "(CopyCzechFiles) finish successful"
restart
online
waitfor "(CopyCzechFiles) target files with translate exists."
unload Orvandel
SCRIPT

"$hostsim" --root "$root" --server https://127.0.0.1:9 --script "$root/story.txt" "$addin" >"$root/transcript.txt"

# The add-in's own lines: its log lines other than the version check's, its messages and preferences.
grep -v 'CheckNewVersion' "$root/transcript.txt" | grep -E '^(log|messagebox|preference|addin)' |
  sed "s|$root|ROOT|g" >"$root/actual.txt"

run="log [Info(2)/File(0)] QUORLEX: (CopyCzechFiles)"
full_run() {
  cat <<LINES
$run start ...
$run source files with Orvandel  exists.
$run delete old files.
$run copy files for Fusion without CAM.
$run copy QM files.
preference userLanguage = Czech(2)
$run set Orvandel in preferences.
$run copy files for Fusion CAM.
$run copy en-html.html to cz-html.html.
$run copy dir en-html to cz-html
$run copy picture of help do dir cz-html
$run copy files for Help Fusion.
messagebox "Instalace češtiny proběhla správně. Nastavení se projeví po restartu Fusion 360" title="" buttons=OK(0) icon=None(0) -> OK(0)
$run finish successful
LINES
}
{
  echo "log [Info(2)/File(0)] QUORLEX: Run addIn and start of logging"
  echo "addin Orvandel run -> true"
  full_run
  full_run
  echo "log [Info(2)/File(0)] QUORLEX: Stop addIn and stop of logging"
  echo "addin Orvandel stop -> true"
  echo "log [Info(2)/File(0)] QUORLEX: Run addIn and start of logging"
  echo "addin Orvandel run -> true"
  echo "$run start ..."
  echo "$run target files with translate exists."
  echo "log [Info(2)/File(0)] QUORLEX: Stop addIn and stop of logging"
  echo "addin Orvandel stop -> true"
} >"$root/expected.txt"
diff -u "$root/expected.txt" "$root/actual.txt"

bundle="$production/Autodesk Fusion.app/Contents"
help="$bundle/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help"
package="$source_dir/samples/package"
cmp "$package/vornidfu/cs-CZ/Neutron.xml" "$bundle/Libraries/Neutron/StringTable/cs-CZ/Neutron.xml"
cmp "$package/VornidQM/main_cs.qm" "$bundle/Resources/AIRMAX/cs-CZ/main_cs.qm"
cmp "$package/vornidca/czech_cz.xml" "$bundle/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml"
cmp "$package/vornidhe/cz-html/obsah.html" "$help/cz-html/obsah.html"
test -f "$help/cz-html.html"
# The older build lost its Czech files and kept the host's own.
test ! -e "$old/Neutron/StringTable/cs-CZ"
test ! -e "$old/Applications/CAM360/Data/Translations/czech_cz.xml"
test -f "$old/Applications/CAM360/Data/Translations/english.xml"

# The install record in the add-in's folder lists what the runs placed into the bundle, none of the
# host's own files, and nothing of the older build.
record="$root/Users/user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel/Orvandel_InstallRecord.txt"
test "$(head -n 1 "$record")" = "# Orvandel install record 1"
tab="$(printf '\t')"
grep -q "^F$tab.*${tab}Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml\$" "$record"
grep -q "^F$tab.*${tab}Contents/Libraries/Neutron/StringTable/cs-CZ/Neutron.xml\$" "$record"
grep -qx "D${tab}Contents/Resources/AIRMAX/cs-CZ" "$record"
! grep -E 'en-html\.html$|english\.xml$|Fusion 360\.app' "$record" ||
  fail_now "the install record names files that are not the package's"

echo "1 passed, 0 failed"
