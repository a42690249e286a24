#!/usr/bin/env bash
# Builds the product and plays a Czech user's whole story in hostsim on the embedded sample, then
# prints a summary. The simulated Mac stays in build/demo-mac for a closer look.
# Usage: scripts/demo.sh [--jsonl] [--verbose]   (further options go to hostsim; --verbose adds the
# host's plumbing, the custom events the add-ins' workers send, to the readable transcript)
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."
top=$PWD

scripts/setup.sh
cmake --preset dev >/dev/null
# Build output goes to stderr, so that a failing build is seen and stdout keeps only the story.
cmake --build --preset dev --target Orvandel Miravelo uninstaller hostsim maker_server >&2

build=$top/build/dev
root=$top/build/demo-mac
home=$root/Users/user
production="$home/Library/Application Support/Autodesk/webdeploy/production"
bundle="$production/Autodesk Fusion.app"
old_build="$production/5c1e0b7a9d3f4e2c8b6a1d0e9f8c7b6a"
old_bundle="$old_build/Autodesk Fusion 360.app"
addin_tree="$home/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"

# The package installation, as on a Mac: build-pkg.sh stages the installer package from this build, its
# payload is laid over the simulated Mac's / after each component's preinstall script, and the
# postinstall script places both add-ins for the user at the screen, acting as that user. That user
# must be an account of this machine and own its home, hostsim's user's; as root it is nobody, and the
# home goes back to root afterwards, the account hostsim then plays the user with.
stage=$top/build/demo-package
rm -rf "$root" "$stage"
packaging/macos/build-pkg.sh --stage "$stage" --build "$build" >/dev/null
if [ "$(id -u)" = 0 ]; then account=nobody; else account=$(id -un); fi
mkdir -p "$root/Users/user"
chown "$account:$(id -gn "$account")" "$root/Users/user"
[ "$account" = user ] || ln -s user "$root/Users/$account"
sh "$stage/data-scripts/preinstall" "$stage" /Library/Vornid "$root" >/dev/null
sh "$stage/scripts/preinstall" "$stage" /Library/Vornid/AddIns "$root" >/dev/null
cp -R "$stage/root/." "$root/"
INSTALLER_CONSOLE_USER=$account bash "$stage/scripts/postinstall" "$stage" /Library/Vornid/AddIns "$root"
chown -R "$(id -u):$(id -g)" "$root/Users/user"

# Czech files an older package left in another build.
help="$old_bundle/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help"
mkdir -p "$old_bundle/Contents/Libraries/Applications/CAM360/Data/Translations" "$help/cz-html" \
         "$old_bundle/Contents/Libraries/Neutron/StringTable/cs-CZ"
echo '<translations lang="cs"/>' >"$old_bundle/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml"
echo '<html lang="cs">Starý návod</html>' >"$help/cz-html.html"
echo '<html lang="cs">Stará stránka</html>' >"$help/cz-html/index.html"
echo 'Soubor=Starý překlad' >"$old_bundle/Contents/Libraries/Neutron/StringTable/cs-CZ/strings.txt"
echo '<translations lang="en"/>' >"$old_bundle/Contents/Libraries/Applications/CAM360/Data/Translations/english.xml"
legacy_before=$(find "$old_bundle" -type f | wc -l)

# The maker's server, offering a newer package.
"$build/tests/servers/maker_server" --quiet >"$top/build/demo-server.out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  port=$(head -n 1 "$top/build/demo-server.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: the maker's server did not start" >&2; exit 1; }

transcript=$top/build/demo-transcript.txt
"$build/host/sim/hostsim" --root "$root" --server "https://127.0.0.1:$port" \
  --cafile "$build/test-tls/ca.pem" --script samples/demo/story.hostsim "$@" \
  "$addin_tree/Orvandel" "$addin_tree/Miravelo" | tee "$transcript"

# The summary: what a person checks at a glance. Its patterns match the transcript in both formats,
# readable lines and --jsonl objects.
count() { find "$@" -type f 2>/dev/null | wc -l; }
echo
echo "================ Summary ================"
echo "Installation runs that finished: $(grep -c 'CopyCzechFiles) finish successful' "$transcript" || true)"
echo "Czech files in the host bundle at the end, after the uninstaller:"
echo "  string tables (cs-CZ):     $(count "$bundle/Contents/Libraries/Neutron/StringTable/cs-CZ")"
echo "  QM files (AIRMAX/cs-CZ):   $(count "$bundle/Contents/Resources/AIRMAX/cs-CZ")"
echo "  CAM translations:          $(ls "$bundle/Contents/Libraries/Applications/CAM360/Data/Translations" | tr '\n' ' ')"
echo "  CAM help cz-html:          $(count "$bundle/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/cz-html") files"
echo "Older build's legacy files:  $legacy_before before, $(count "$old_bundle") after (one non-Czech file stays)"
language=$(grep -m1 -E '^preference userLanguage|^\{"event":"preference","name":"userLanguage"' "$transcript" |
  sed -E 's/^preference //; s/^\{.*"value":([0-9]+).*/userLanguage = \1/' || true)
echo "Language preference set:     $language"
package="$home/Downloads/Orvandel-installer.pkg"
if [ -f "$package" ]; then
  echo "Installer package:           $(stat -c %s "$package") bytes in ~/Downloads/Orvandel-installer.pkg"
  # The simulation's stand-in for macOS's com.apple.quarantine, which makes the system check the
  # package's signature when the user opens it.
  quarantine=$(getfattr --only-values -n user.com.apple.quarantine "$package" 2>/dev/null || echo "none")
  echo "  quarantine attribute:      $quarantine"
else
  echo "Installer package:           missing"
fi
shown() { grep -c -E "(^progress_shown|^\\{\"event\":\"progress_shown\").*$1" "$transcript" || true; }
echo "Download progress dialog:    shown $(shown 'Nová verze') time(s); installation's: $(shown 'Instalace češtiny') time(s); $(grep -c -E '^progress |^\{"event":"progress",' "$transcript" || true) update(s) in all"
echo "Guide palette opened by itself, per start:"
awk '/^click runTeachPalette|^\{"event":"click","id":"runTeachPalette"/ { clicked = 1 }
     /^palette_added teachPalete|^\{"event":"palette_added","id":"teachPalete"/ && !clicked { opened = 1 }
     /^addin Miravelo stop|^\{"event":"addin","name":"Miravelo","entry":"stop"/ { printf "  start %d: %s\n", ++start, opened ? "yes" : "no"; opened = 0; clicked = 0 }' "$transcript"
echo "Addresses opened in the browser: $(grep -c -E '^open |^\{"event":"open"' "$transcript" || true)"
gone() { if [ -e "$1" ]; then echo "still there"; else echo "removed"; fi; }
echo "Uninstaller:                 add-in folders: Orvandel $(gone "$addin_tree/Orvandel"), Miravelo $(gone "$addin_tree/Miravelo")"
current_help="$bundle/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help"
echo "  Czech files left:          older build $(count "$old_bundle/Contents/Libraries/Neutron/StringTable/cs-CZ" "$help/cz-html"), current bundle $(count "$bundle/Contents/Libraries/Neutron/StringTable/cs-CZ" "$bundle/Contents/Resources/AIRMAX/cs-CZ" "$current_help/cz-html" "$current_help/cz-html.html" "$bundle/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml")"
# The program's output stands escaped on one line of either format.
echo "  named as staying:          $(grep -o 'Zůstává: ' "$transcript" | wc -l) entries; notes: $(grep -o 'Poznámka: ' "$transcript" | wc -l)"
echo "The simulated Mac is kept in $root"
