#!/usr/bin/env bash
# Run on a Mac after installing Orvandel-installer.pkg: checks what the package and its installer left and
# prints one line per check, "PASS", "FAIL" or "SKIP", what was checked and what was found. Ends with
# status 0 when nothing failed, 1 otherwise.
#
#   packaging/macos/check-installed.sh PACKAGE [--user NAME] [--downloaded FILE] [--root DIR]
#
# PACKAGE     the .pkg that was installed: its signature, notarization and stapled ticket
# --user      whose add-in folders to check (default: the user logged in at the screen)
# --downloaded  a package the language add-in downloaded (default HOME/Downloads/Orvandel-installer.pkg):
#             its quarantine attribute; skipped when there is none
# --root      the Mac's / (default /); the tests point it at a simulated Mac, whose system files the
#             caller owns where a Mac's are root's
#
# Also checked: /Library/Vornid owned by root with folders 0755 and files 0644 (the add-ins' programs
# 0755), and on the host's side that the host accepts libraries signed by another team (its
# com.apple.security.cs.disable-library-validation entitlement). lipo and xcrun stapler come with the
# Command Line Tools; without them their lines are SKIP and say how to install them. The last lines say
# what to do next in the host: look for both add-ins in its Scripts and Add-Ins dialog.
set -euo pipefail

usage="usage: check-installed.sh PACKAGE [--user NAME] [--downloaded FILE] [--root DIR]"
addins="Orvandel Miravelo"
components="cz.quorlex.localization.data cz.quorlex.localization.addins"
tree="Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
host_app="Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app"

package="" user="" downloaded="" root=""
while [ $# -gt 0 ]; do
  case $1 in
    --user | --downloaded | --root)
      { [ $# -ge 2 ] && [ -n "$2" ]; } || { echo "check-installed: $1 needs a value; $usage" >&2; exit 2; }
      case $1 in
        --user) user=$2 ;;
        --downloaded) downloaded=$2 ;;
        --root) root=${2%/} ;;
      esac
      shift 2
      ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) echo "check-installed: unknown argument $1; $usage" >&2; exit 2 ;;
    *) package=$1; shift ;;
  esac
done
[ -n "$package" ] || { echo "check-installed: name the installed package; $usage" >&2; exit 2; }
if [ -z "$user" ]; then
  user=$(stat -f %Su /dev/console 2>/dev/null || true)
  { [ -n "$user" ] && [ "$user" != root ]; } || { echo "check-installed: nobody is logged in at the screen; name --user" >&2; exit 2; }
fi
home="$root/Users/$user"
if [ -z "$root" ] && command -v dscl >/dev/null 2>&1; then
  home=$(dscl . -read "/Users/$user" NFSHomeDirectory 2>/dev/null | sed -e '1s/^NFSHomeDirectory://' -e 's/^ //' | tr -d '\n')
fi
[ -n "$downloaded" ] || downloaded="$home/Downloads/Orvandel-installer.pkg"
vornid="$root/Library/Vornid"
staged="$vornid/AddIns"
system_owner=root
[ -z "$root" ] || system_owner=$(id -un)
# lipo and xcrun (stapler) come with the Command Line Tools; without them they only offer to install them.
tools=yes
xcode-select -p >/dev/null 2>&1 || tools=no
no_tools="needs the Command Line Tools: install them with xcode-select --install, then run this again"

failures=0
# report PASS|FAIL|SKIP WHAT FOUND: one line of the table.
report() {
  printf '%-4s  %-22s %s\n' "$1" "$2" "$3"
  [ "$1" != FAIL ] || failures=$((failures + 1))
}
# verdict CONDITION_STATUS WHAT FOUND: PASS when the status is 0, else FAIL.
verdict() {
  if [ "$1" = 0 ]; then report PASS "$2" "$3"; else report FAIL "$2" "$3"; fi
}

# --- The package file.
result=0
check=$(pkgutil --check-signature "$package" 2>&1) || result=$?
grep -q '^ *Status: signed by a developer certificate issued by Apple for distribution$' <<<"$check" || result=1
leaf=$(sed -n 's/^ *1\. //p' <<<"$check" | head -n 1)
[[ $leaf == "Developer ID Installer: "* ]] || result=1
verdict "$result" "package signature" "${leaf:-$(grep -m 1 'Status:' <<<"$check" | sed 's/^ *//')}"
result=0
grep -q '^ *Notarization: trusted by the Apple notary service$' <<<"$check" || result=1
verdict "$result" "package notarization" "$(grep -m 1 'Notarization:' <<<"$check" | sed 's/^ *//' | grep . || echo 'pkgutil reports no notarization')"
result=0
assessment=$(spctl --assess --type install --verbose "$package" 2>&1) || result=$?
grep -qx 'source=Notarized Developer ID' <<<"$assessment" || result=1
verdict "$result" "Gatekeeper" "$(tr '\n' ' ' <<<"$assessment")"
if [ "$tools" = yes ]; then
  result=0
  stapled=$(xcrun stapler validate "$package" 2>&1) || result=$?
  verdict "$result" "stapled ticket" "$(tail -n 1 <<<"$stapled")"
else
  report SKIP "stapled ticket" "xcrun stapler $no_tools"
fi

# --- The receipts: both components, every path they list present where they put it.
installed=$(pkgutil --pkgs 2>&1 || true)
for component in $components; do
  if ! grep -qx "$component" <<<"$installed"; then
    report FAIL "receipt" "$component: no receipt (pkgutil --pkgs)"
    continue
  fi
  info=$(pkgutil --pkg-info "$component" 2>&1 || true)
  location=$(sed -n 's/^location: //p' <<<"$info")
  version=$(sed -n 's/^version: //p' <<<"$info")
  total=0 missing=0 first=""
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    total=$((total + 1))
    if [ ! -e "$root/${location#/}/$path" ] && [ ! -L "$root/${location#/}/$path" ]; then
      missing=$((missing + 1))
      [ -n "$first" ] || first="/${location#/}/$path"
    fi
  done < <(pkgutil --files "$component" 2>/dev/null || true)
  if [ "$total" = 0 ]; then
    report FAIL "receipt" "$component $version: lists no files (pkgutil --files)"
  elif [ "$missing" != 0 ]; then
    report FAIL "receipt" "$component $version: $missing of $total paths missing, first $first"
  else
    report PASS "receipt" "$component $version: $total paths in /${location#/}"
  fi
done

# --- The system's copy: root's alone, as the package's payload gives it.
result=0 found="/Library/Vornid: owned by $system_owner, folders 0755, files 0644 (the add-ins' programs 0755)"
if [ -L "$vornid" ] || [ ! -d "$vornid" ]; then
  result=1 found="$vornid is not a folder"
else
  entry=$(find "$vornid" ! -user "$system_owner" -print -quit)
  [ -z "$entry" ] || result=1 found="$entry is not owned by $system_owner"
  if [ $result = 0 ]; then
    entry=$(find "$vornid" \( -type l -o -type d ! -perm 755 -o -type f ! -perm 644 ! -perm 755 \) -print -quit)
    # shellcheck disable=SC2012 # one entry named, its mode alone read
    [ -z "$entry" ] || result=1 found="$entry: $(ls -ld "$entry" | awk '{print $1}'), not 0755 (folders) or 0644 (files)"
  fi
  if [ $result = 0 ]; then
    entry=$(find "$vornid" -path "$staged" -prune -o -type f -perm 755 -print -quit)
    [ -z "$entry" ] || result=1 found="$entry is executable: only the add-ins' programs are"
  fi
fi
verdict "$result" "system folder" "$found"

# --- The host's side: it loads libraries signed by another team only with library validation off.
app="$home/$host_app"
if [ ! -d "$app" ]; then
  report FAIL "host" "no host at $app: install and start the host once, then run this again"
else
  result=0
  entitlements=$(codesign -d --entitlements - --xml "$app" 2>/dev/null | tr -d ' \t\n') || result=1
  [[ $entitlements == *"<key>com.apple.security.cs.disable-library-validation</key><true/>"* ]] || result=1
  if [ $result = 0 ]; then
    report PASS "host" "$app loads libraries of other teams (com.apple.security.cs.disable-library-validation)"
  else
    report FAIL "host" "$app lacks com.apple.security.cs.disable-library-validation (codesign -d --entitlements - --xml): it will refuse add-ins signed by our team"
  fi
fi

# --- The add-in folders the installer made for the user, and the code in them and in the staged copy.
for name in $addins; do
  folder="$home/$tree/$name"
  if [ -L "$folder" ] || [ ! -d "$folder" ]; then
    report FAIL "add-in folder" "$folder is not a folder"
    continue
  fi
  foreign=$(find "$folder" ! -user "$user" -print -quit)
  if [ -n "$foreign" ]; then
    report FAIL "add-in folder" "$foreign is not owned by $user"
  else
    report PASS "add-in folder" "$folder, owned by $user"
  fi
  manifest="$folder/$name.manifest"
  if [ ! -s "$manifest" ] || ! grep -q '"id"' "$manifest"; then
    report FAIL "manifest" "$manifest is missing or has no id"
  elif ! cmp -s "$manifest" "$staged/$name/$name.manifest"; then
    report FAIL "manifest" "$manifest differs from the package's $staged/$name/$name.manifest"
  else
    report PASS "manifest" "$manifest"
  fi
done

# is_macho FILE: FILE begins with a Mach-O magic number, as build-pkg.sh finds the code it signs. Java
# class files share the universal magic; their version number, where a universal file counts its
# architectures, is 45 or more.
is_macho() {
  local magic
  magic=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  case $magic in
    feedface* | feedfacf* | cefaedfe* | cffaedfe*) return 0 ;;
    cafebabe* | cafebabf*) [ ${#magic} = 16 ] && [ $((16#${magic:8:8})) -lt 45 ] ;;
    *) return 1 ;;
  esac
}

code=0
while IFS= read -r -d '' file; do
  is_macho "$file" || continue
  code=$((code + 1))
  result=0
  codesign --verify --strict "$file" >/dev/null 2>&1 || result=$?
  signature=$(codesign --display --verbose=2 "$file" 2>&1 || true)
  authority=$(sed -n 's/^Authority=//p' <<<"$signature" | head -n 1)
  [[ $authority == "Developer ID Application: "* ]] || result=1
  grep -q '^CodeDirectory .*(.*runtime.*)' <<<"$signature" || result=1
  grep -q '^Timestamp=' <<<"$signature" || result=1
  verdict "$result" "code signature" "$file: ${authority:-not signed by a Developer ID}"
  [ "$tools" = yes ] || continue
  archs=$(lipo -archs "$file" 2>&1 || true)
  result=1
  [[ " $archs " == *" arm64 "* && " $archs " == *" x86_64 "* ]] && result=0
  verdict "$result" "architectures" "$file: $archs"
done < <(find "$staged" "$home/$tree/Orvandel" "$home/$tree/Miravelo" -type f -print0 2>/dev/null | sort -z)
[ "$code" != 0 ] || report FAIL "code signature" "no Mach-O file in $staged or the user's add-in folders"
[ "$tools" = yes ] || report SKIP "architectures" "lipo $no_tools"

# --- A package the language add-in downloaded carries the quarantine attribute naming it.
if [ ! -f "$downloaded" ]; then
  report SKIP "quarantine" "no downloaded package at $downloaded"
else
  quarantine=$(xattr -p com.apple.quarantine "$downloaded" 2>&1) || quarantine=""
  result=1
  [[ $quarantine == *";Orvandel;"* ]] && result=0
  verdict "$result" "quarantine" "$downloaded: ${quarantine:-no com.apple.quarantine attribute}"
fi

if [ "$failures" != 0 ]; then
  echo "check-installed: $failures checks failed; send this output with the report of the install"
  exit 1
fi
echo "check-installed: every check passed. Next: open the host and its Scripts and Add-Ins dialog (Shift+S);"
echo "  on its Add-Ins tab Orvandel and Miravelo must both be listed and running. Send this output and what"
echo "  the dialog shows with the report of the install."
