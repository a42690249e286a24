#!/usr/bin/env bash
# check-installed.sh against the stand-ins for Apple's tools and a simulated Mac as the package leaves it:
# every line passes on a sound install; each fault an install can have makes its line fail and the status 1.
# Usage: check_installed_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="$1"
check_installed="$source_dir/packaging/macos/check-installed.sh"
tools="$source_dir/tests/packaging/apple-tools"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" check-installed-test
# shellcheck source=apple-tools/common.sh
source "$tools/common.sh"
export PATH="$tools:$PATH"

user=$(id -un)
signed="Developer ID Application: Quorlex s.r.o. (QX7T2M9K4B);runtime;timestamp"
both="arm64 x86_64"

# The sound install: the data and the staged add-ins with their receipts (modes as the package gives them),
# the user's copies, the host that accepts libraries of other teams, the installed package (signed,
# stapled) and a downloaded one marked as from the internet. A Java class file shares the universal magic
# and is no code.
umask 022
mac="$work/sound"
vornid="$mac/Library/Vornid"
user_addins="$mac/Users/$user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
mkdir -p "$vornid/vornidfu" "$mac/receipts" "$mac/Users/$user/Downloads" "$user_addins"
echo text >"$vornid/vornidfu/strings.xml"
make_macho "$vornid/AddIns/Orvandel/Orvandel.dylib" "$both" "" "$signed"
make_macho "$vornid/AddIns/Orvandel/uninstaller" "x86_64 arm64" "" "$signed"
make_macho "$vornid/AddIns/Miravelo/Miravelo.dylib" "$both" "" "$signed"
echo '{"id": "o"}' >"$vornid/AddIns/Orvandel/Orvandel.manifest"
echo '{"id": "m"}' >"$vornid/AddIns/Miravelo/Miravelo.manifest"
mkdir -p "$vornid/AddIns/Orvandel/resources"
printf '\312\376\272\276\000\000\000\064 class' >"$vornid/AddIns/Orvandel/resources/Helper.class"
cp -Rp "$vornid/AddIns/Orvandel" "$vornid/AddIns/Miravelo" "$user_addins/"
app="Users/$user/Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app"
mkdir -p "$mac/$app/Contents"
printf '<?xml version="1.0"?>\n<plist version="1.0">\n<dict>\n\t<key>com.apple.security.cs.disable-library-validation</key>\n\t<true/>\n</dict>\n</plist>\n' \
  >"$mac/$app/Contents/entitlements.plist"
printf 'vornidfu\nvornidfu/strings.xml\n' >"$mac/receipts/cz.quorlex.localization.data.files"
printf 'location: Library/Vornid\nversion: 2.1.0\n' >"$mac/receipts/cz.quorlex.localization.data.info"
(cd "$vornid/AddIns" && find . -mindepth 1 | sed 's|^\./||') >"$mac/receipts/cz.quorlex.localization.addins.files"
printf 'location: /Library/Vornid/AddIns\nversion: 2.1.0\n' >"$mac/receipts/cz.quorlex.localization.addins.info"
printf 'xar!\nproduct-signature Developer ID Installer: Quorlex s.r.o. (QX7T2M9K4B)\nticket stapled\n' >"$mac/installed.pkg"
cp "$mac/installed.pkg" "$mac/Users/$user/Downloads/Orvandel-installer.pkg"
setfattr -n user.com.apple.quarantine -v '0081;6937a1c8;Orvandel;' "$mac/Users/$user/Downloads/Orvandel-installer.pkg"

# run MAC [VARIABLE=VALUE...]: check-installed.sh on a simulated Mac; sets $status and $out.
run() {
  local mac=$1
  shift
  status=0
  out=$(env APPLE_TOOLS_RECEIPTS="$mac/receipts" APPLE_TOOLS_LOG="$work/tools.log" ${1+"$@"} \
    "$check_installed" "$mac/installed.pkg" --user "$user" --root "$mac" 2>&1) || status=$?
}

run "$mac"
[ "$status" = 0 ] || fail "a sound install fails: $out"
for what in "package signature" "package notarization" Gatekeeper "stapled ticket" "receipt" "system folder" \
  host "add-in folder" manifest "code signature" architectures quarantine; do
  grep -q "^PASS  $what " <<<"$out" || fail "no passing '$what' line: $out"
done
[ "$(grep -c '^PASS  code signature ' <<<"$out")" = 6 ] || fail "not 6 binaries checked: $out"
! grep -qE '^(FAIL|SKIP)' <<<"$out" || fail "a sound install has failing lines: $out"
grep -q "Scripts and Add-Ins dialog (Shift+S)" <<<"$out" || fail "a sound install does not say what to do next: $out"

# A Mac without the Command Line Tools: lipo and xcrun stapler are not run, their lines say how to get them.
rm -f "$work/tools.log"
run "$mac" APPLE_TOOLS_FAIL=xcode-select
[ "$status" = 0 ] || fail "no Command Line Tools: status $status: $out"
for what in "stapled ticket         xcrun stapler" "architectures          lipo"; do
  grep -q "^SKIP  $what needs the Command Line Tools: install them with xcode-select --install" <<<"$out" ||
    fail "no Command Line Tools: no SKIP line for $what: $out"
done
! grep -qE '^(lipo|stapler) ' "$work/tools.log" || fail "no Command Line Tools: lipo or stapler ran: $(cat "$work/tools.log")"

# Each fault: a command that breaks a copy of the sound install (run in it), and the failing line.
u="Users/$user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
faults=(
  "sed -i /ticket/d installed.pkg|FAIL  package notarization"
  "sed -i /ticket/d installed.pkg|FAIL  stapled ticket"
  "sed -i /ticket/d installed.pkg|FAIL  Gatekeeper"
  "sed -i /product-signature/d installed.pkg|FAIL  package signature"
  "rm receipts/cz.quorlex.localization.addins.files|FAIL  receipt                cz.quorlex.localization.addins: no receipt"
  "rm Library/Vornid/vornidfu/strings.xml|FAIL  receipt                cz.quorlex.localization.data 2.1.0: 1 of 2 paths missing, first /Library/Vornid/vornidfu/strings.xml"
  "rm -r '$u/Miravelo'|FAIL  add-in folder          $mac-fault/$u/Miravelo is not a folder"
  "rm '$u/Orvandel/Orvandel.manifest'|FAIL  manifest"
  "sed -i s/o/x/ '$u/Orvandel/Orvandel.manifest'|FAIL  manifest"
  "sed -i /^signature/d '$u/Orvandel/uninstaller'|FAIL  code signature         $mac-fault/$u/Orvandel/uninstaller"
  "sed -i 's/;runtime;/;none;/' Library/Vornid/AddIns/Miravelo/Miravelo.dylib|FAIL  code signature         $mac-fault/Library/Vornid/AddIns/Miravelo/Miravelo.dylib"
  "sed -i /^arch.x86_64/d '$u/Orvandel/Orvandel.dylib'|FAIL  architectures          $mac-fault/$u/Orvandel/Orvandel.dylib: arm64"
  "setfattr -x user.com.apple.quarantine Users/$user/Downloads/Orvandel-installer.pkg|FAIL  quarantine"
  "chmod 0775 Library/Vornid/vornidfu|FAIL  system folder          $mac-fault/Library/Vornid/vornidfu: drwxrwxr-x, not 0755"
  "chmod 0666 Library/Vornid/vornidfu/strings.xml|FAIL  system folder          $mac-fault/Library/Vornid/vornidfu/strings.xml: -rw-rw-rw-"
  "chmod 0755 Library/Vornid/vornidfu/strings.xml|FAIL  system folder          $mac-fault/Library/Vornid/vornidfu/strings.xml is executable"
  "rm '$app/Contents/entitlements.plist'|FAIL  host                   $mac-fault/$app lacks com.apple.security.cs.disable-library-validation"
  "sed -i s/true/false/ '$app/Contents/entitlements.plist'|FAIL  host                   $mac-fault/$app lacks"
  "rm -r '$app'|FAIL  host                   no host at $mac-fault/$app"
)
# Ownership needs a second user, which only root can give a file.
[ "$(id -u)" != 0 ] || faults+=("chown nobody '$u/Miravelo/Miravelo.manifest'|FAIL  add-in folder          $mac-fault/$u/Miravelo/Miravelo.manifest is not owned by $user"
  "chown nobody Library/Vornid/vornidfu|FAIL  system folder          $mac-fault/Library/Vornid/vornidfu is not owned by root")
for fault in "${faults[@]}"; do
  IFS='|' read -r command line <<<"$fault"
  rm -rf "$mac-fault"
  cp -a "$mac" "$mac-fault"
  (cd "$mac-fault" && eval "$command") || fail_now "cannot make the fault: $command"
  run "$mac-fault"
  [ "$status" = 1 ] || fail "$command: status $status"
  grep -qF -- "$line" <<<"$out" || fail "$command: no '$line' in: $out"
done
exit "$failed"
