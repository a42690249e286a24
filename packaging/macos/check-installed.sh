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
# --root      the Mac's / (default /); the tests point it at a simulated Mac
set -euo pipefail

usage="usage: check-installed.sh PACKAGE [--user NAME] [--downloaded FILE] [--root DIR]"
addins="Orvandel Miravelo"
components="cz.quorlex.localization.data cz.quorlex.localization.addins"
tree="Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"

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
staged="$root/Library/Vornid/AddIns"

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
result=0
stapled=$(xcrun stapler validate "$package" 2>&1) || result=$?
verdict "$result" "stapled ticket" "$(tail -n 1 <<<"$stapled")"

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

# is_macho FILE: FILE begins with a Mach-O magic number (as build-pkg.sh finds the code it signs).
is_macho() {
  case $(od -An -tx1 -N4 "$1" | tr -d ' \n') in
    feedface | feedfacf | cefaedfe | cffaedfe | cafebabe | cafebabf) return 0 ;;
  esac
  return 1
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
  archs=$(lipo -archs "$file" 2>&1 || true)
  result=1
  [[ " $archs " == *" arm64 "* && " $archs " == *" x86_64 "* ]] && result=0
  verdict "$result" "architectures" "$file: $archs"
done < <(find "$staged" "$home/$tree/Orvandel" "$home/$tree/Miravelo" -type f -print0 2>/dev/null | sort -z)
[ "$code" != 0 ] || report FAIL "code signature" "no Mach-O file in $staged or the user's add-in folders"

# --- A package the language add-in downloaded carries the quarantine attribute naming it.
if [ ! -f "$downloaded" ]; then
  report SKIP "quarantine" "no downloaded package at $downloaded"
else
  quarantine=$(xattr -p com.apple.quarantine "$downloaded" 2>&1) || quarantine=""
  result=1
  [[ $quarantine == *";Orvandel;"* ]] && result=0
  verdict "$result" "quarantine" "$downloaded: ${quarantine:-no com.apple.quarantine attribute}"
fi

[ "$failures" = 0 ] || { echo "check-installed: $failures checks failed"; exit 1; }
echo "check-installed: every check passed"
