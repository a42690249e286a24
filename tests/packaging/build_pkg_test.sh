#!/usr/bin/env bash
# build-pkg.sh's Mac path with stand-ins for Apple's tools (tests/packaging/apple-tools) on a build folder
# laid out as the macos preset's: every Mach-O checked, signed and verified before pkgbuild, the product
# signed, notarized, stapled and assessed; every refusal stops with one line and leaves nothing at
# --output.
# Usage: build_pkg_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="$1"
build_pkg="$source_dir/packaging/macos/build-pkg.sh"
tools="$source_dir/tests/packaging/apple-tools"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" build-pkg-test
# shellcheck source=apple-tools/common.sh
source "$tools/common.sh"
export PATH="$tools:$PATH"

team=QX7T2M9K4B
application="Developer ID Application: Quorlex s.r.o. ($team)"
installer="Developer ID Installer: Quorlex s.r.o. ($team)"
both="arm64 x86_64"
system="/usr/lib/libSystem.B.dylib /usr/lib/libc++.1.dylib /System/Library/Frameworks/Security.framework/Versions/A/Security"
# The host's interface, as QUORLEX_HOST_SDK_DIR names it: its headers and libraries, linked through the
# host's run paths or by a host-relative name.
mkdir -p "$work/sdk/lib" "$work/sdk/include/Core" "$work/headerless-sdk/lib"
touch "$work/sdk/lib/libNeuCore.dylib" "$work/sdk/lib/libHostCore.dylib" "$work/sdk/include/Core/CoreAll.h"
host="@rpath/libHostCore.dylib @executable_path/../Libraries/libNeuCore.dylib"
application_sha1=5E3F1D2C4B6A79880716253443526170819A0B1C
installer_sha1=9A8B7C6D5E4F30211203F4E5D6C7B8A90A1B2C3D

# make_build DIR [UNINSTALLER_ARCHS [ORVANDEL_LINKS [SDK]]]: a configured non-simulation build whose
# cmake --install gives the add-in folders; a Mach-O with a resource's name stands for code the build adds.
# SDK "" is a build configured without the host's interface.
make_build() {
  local payload="$1/payload" sdk=${4-$work/sdk}
  make_macho "$payload/Orvandel/Orvandel.dylib" "$both" "$system $host ${3:-}"
  make_macho "$payload/Orvandel/uninstaller" "${2:-x86_64 arm64}" "$system"
  make_macho "$payload/Orvandel/resources/helper" "$both" "$system"
  make_macho "$payload/Miravelo/Miravelo.dylib" "$both" "$system @rpath/libHostCore.dylib"
  echo 2.1.0 >"$payload/Orvandel/version.txt"
  echo '{"id": "o"}' >"$payload/Orvandel/Orvandel.manifest"
  echo '{"id": "m"}' >"$payload/Miravelo/Miravelo.manifest"
  printf 'QUORLEX_VERSION=2.1.0\nQUORLEX_MACOS_MINIMUM=14.0\n' >"$1/product.env"
  printf 'QUORLEX_HOSTSIM:BOOL=OFF\nQUORLEX_PACKAGE_TEAM_ID:STRING=%s\nQUORLEX_HOST_SDK_DIR:PATH=%s\n' \
    "$team" "$sdk" >"$1/CMakeCache.txt"
  cat >"$1/cmake_install.cmake" <<'INSTALL'
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE DIRECTORY USE_SOURCE_PERMISSIONS
     FILES "${CMAKE_CURRENT_LIST_DIR}/payload/Orvandel" "${CMAKE_CURRENT_LIST_DIR}/payload/Miravelo")
INSTALL
}
make_build "$work/build"
make_build "$work/one-arch" arm64
make_build "$work/homebrew" "" /opt/homebrew/opt/curl/lib/libcurl.4.dylib
make_build "$work/standin-host" "" @rpath/libhost.dylib ""
make_build "$work/headerless" "" "" "$work/headerless-sdk"
make_build "$work/unknown-rpath" "" @rpath/libhost.dylib
make_build "$work/simulation"
sed -i 's/^QUORLEX_HOSTSIM:BOOL=OFF$/QUORLEX_HOSTSIM:BOOL=ON/' "$work/simulation/CMakeCache.txt"

output="$work/out/Orvandel-installer.pkg"
log="$work/tools.log"
export APPLE_TOOLS_STATE="$work/state"
mkdir -p "$APPLE_TOOLS_STATE"

# run BUILD [VARIABLE=VALUE...]: build-pkg.sh on BUILD with the full set of identities, changed by the
# assignments (an empty value unsets); a stale package waits at --output. Sets $status and $out.
run() {
  local build=$1
  shift
  mkdir -p "$(dirname "$output")"
  echo stale >"$output"
  : >"$log"
  rm -f "$APPLE_TOOLS_STATE"/*
  status=0
  out=$(env APPLE_TOOLS_LOG="$log" QUORLEX_APPLICATION_IDENTITY="$application" \
    QUORLEX_INSTALLER_IDENTITY="$installer" QUORLEX_NOTARY_PROFILE=quorlex-notary \
    QUORLEX_PACKAGE_TEAM_ID="$team" "$@" \
    "$build_pkg" --data "$source_dir/samples/package" --build "$build" --output "$output" 2>&1) || status=$?
}

# line_of PATTERN: the number of the first line of the tools' log matching PATTERN (grep -E), else 0.
line_of() {
  grep -nE -- "$1" "$log" | head -n 1 | cut -d: -f1 | grep . || echo 0
}

# --- The whole path: each Mach-O (found by content) checked, signed and verified before pkgbuild; then the
# product signed, notarized, stapled, assessed; the package at --output.
run "$work/build"
[ "$status" = 0 ] || fail_now "the full build failed: $out"
code="Miravelo/Miravelo.dylib Orvandel/Orvandel.dylib Orvandel/resources/helper Orvandel/uninstaller"
first_pkgbuild=$(line_of '^pkgbuild ')
for name in $code; do
  signed=$(line_of "^codesign --force --sign ${application//[()]/.} --timestamp --options runtime .*/AddIns/$name\$")
  verified=$(line_of "^codesign --verify --strict .*/AddIns/$name\$")
  { [ "$signed" != 0 ] && [ "$signed" -lt "$verified" ] && [ "$verified" -lt "$first_pkgbuild" ]; } ||
    fail "$name: signed at log line $signed, verified at $verified, first pkgbuild at $first_pkgbuild"
  grep -qx "code $name $application;runtime;timestamp" "$output" || fail "$name is not packaged signed"
done
[ "$(grep -c '^codesign --force' "$log")" = 4 ] || fail "codesign signed other than the 4 Mach-O files: $(cat "$log")"
# productbuild took the two components the distribution names.
[ "$(grep -c '^component cz\.quorlex\.localization\.' "$output")" = 2 ] || fail "the package lacks a component: $(cat "$output")"
previous=0
for step in '^productbuild .*--sign Developer ID Installer' '^notarytool submit .* --wait --output-format json' \
  '^stapler staple ' '^stapler validate ' '^spctl --assess --type install' '^pkgutil --check-signature'; do
  at=$(line_of "$step")
  [ "$at" -gt "$previous" ] || fail "'$step' at log line $at, not after line $previous: $(cat "$log")"
  previous=$at
done
data_call=$(grep '^pkgbuild .*localization.data' "$log")
if [ -d "$source_dir/packaging/macos/data-scripts" ]; then
  [[ $data_call == *"--scripts "*/data-scripts* ]] || fail "the data component has no scripts: $data_call"
else
  [[ $data_call != *--scripts* ]] || fail "the data component names absent scripts: $data_call"
fi
grep -qx 'ticket stapled' "$output" || fail "the package at --output carries no stapled ticket"
{ sed -n '/verdicts:$/{n;p;}' <<<"$out" | grep -q ': accepted$' && tail -n 2 <<<"$out" | grep -qx '    3. Apple Root CA'; } ||
  fail "Gatekeeper's and pkgutil's verdicts are not the last lines: $out"
[ -z "$(find "$work/out" -name '.*')" ] || fail "a partial package is left beside --output"

# --- Identities given by their SHA-1 hashes, the way to choose when a renewed certificate left two valid
# identities of one name: signed with the hash, checked against the name the keychain gives it.
renewed="$application_sha1 $application;00112233445566778899AABBCCDDEEFF00112233 $application;$installer_sha1 $installer"
run "$work/build" QUORLEX_APPLICATION_IDENTITY="$application_sha1" QUORLEX_INSTALLER_IDENTITY="$installer_sha1" \
  APPLE_TOOLS_IDENTITIES="$renewed"
[ "$status" = 0 ] || fail "identities given by hash: $out"
grep -q "^codesign --force --sign $application_sha1 " "$log" || fail "codesign was not given the hash: $(cat "$log")"
grep -qx "code Orvandel/uninstaller $application;runtime;timestamp" "$output" || fail "not signed by hash: $(cat "$output")"

# --- Without identities: an unsigned package for trying out, saying so; nothing signed or notarized.
run "$work/build" QUORLEX_APPLICATION_IDENTITY= QUORLEX_INSTALLER_IDENTITY= QUORLEX_NOTARY_PROFILE=
[ "$status" = 0 ] || fail "the unsigned build failed: $out"
{ grep -q 'the code is unsigned' <<<"$out" && grep -q 'the package is unsigned' <<<"$out"; } ||
  fail "the unsigned build does not say so: $out"
! grep -qE '^(codesign|notarytool)' "$log" || fail "the unsigned build signed or notarized: $(cat "$log")"
grep -q '^code Orvandel/uninstaller unsigned$' "$output" || fail "no unsigned package at --output"

# --- Refusals: each one line naming its cause, status 1, nothing at --output.
refusals=(
  "one-arch|one-arch||/Library/Vornid/AddIns/Orvandel/uninstaller holds 'arm64', not both arm64 and x86_64"
  "foreign library|homebrew||/Library/Vornid/AddIns/Orvandel/Orvandel.dylib links /opt/homebrew/opt/curl/lib/libcurl.4.dylib, which is neither"
  "stand-in host|standin-host||$work/standin-host was configured without QUORLEX_HOST_SDK_DIR: its add-ins link the stand-in host"
  "interface without headers|headerless||$work/headerless's QUORLEX_HOST_SDK_DIR $work/headerless-sdk holds no include/Core/CoreAll.h"
  "unknown run-path library|unknown-rpath||/Library/Vornid/AddIns/Orvandel/Orvandel.dylib links @rpath/libhost.dylib, which is neither in the host's interface ($work/sdk/lib) nor in the package"
  "simulation build|simulation||$work/simulation is a simulation build (QUORLEX_HOSTSIM on)"
  "unknown identity|build|QUORLEX_APPLICATION_IDENTITY=Developer ID Application: Nobody ($team)|QUORLEX_APPLICATION_IDENTITY 'Developer ID Application: Nobody ($team)': no valid identity of this name in the keychain"
  "unknown hash|build|QUORLEX_INSTALLER_IDENTITY=00112233445566778899AABBCCDDEEFF00112233|QUORLEX_INSTALLER_IDENTITY 00112233445566778899AABBCCDDEEFF00112233: no valid identity with this SHA-1 hash"
  "two of one name|build|APPLE_TOOLS_IDENTITIES=$application_sha1 $application;00112233445566778899AABBCCDDEEFF00112233 $application;$installer_sha1 $installer|QUORLEX_APPLICATION_IDENTITY '$application': the keychain holds 2 valid identities of this name; give the one to use by its SHA-1 hash"
  "no application identity|build|QUORLEX_APPLICATION_IDENTITY=|QUORLEX_INSTALLER_IDENTITY is set but QUORLEX_APPLICATION_IDENTITY is not"
  "not a Developer ID|build|QUORLEX_APPLICATION_IDENTITY=Apple Development: Quorlex ($team)|QUORLEX_APPLICATION_IDENTITY 'Apple Development: Quorlex ($team)' is not a \"Developer ID Application: NAME (TEAM)\" identity"
  "teams differ|build|QUORLEX_APPLICATION_IDENTITY=Developer ID Application: Other (AB12CD34EF)|the application identity's team AB12CD34EF is not the installer identity's team $team"
  "pinned team differs|build|QUORLEX_PACKAGE_TEAM_ID=AB12CD34EF|QUORLEX_PACKAGE_TEAM_ID AB12CD34EF is not the signing identities' team $team"
  "codesign fails|build|APPLE_TOOLS_FAIL=codesign-sign|codesign could not sign /Library/Vornid/AddIns/Miravelo/Miravelo.dylib"
  "ad hoc result|build|APPLE_TOOLS_CODESIGN=adhoc|/Library/Vornid/AddIns/Miravelo/Miravelo.dylib is signed ad hoc"
  "unsigned result|build|APPLE_TOOLS_CODESIGN=unsigned|the signature of /Library/Vornid/AddIns/Miravelo/Miravelo.dylib does not verify"
  "pkgbuild fails|build|APPLE_TOOLS_FAIL=pkgbuild|pkgbuild could not build the data component"
  "productbuild fails|build|APPLE_TOOLS_FAIL=productbuild|productbuild could not build the package"
  "upload fails|build|APPLE_TOOLS_FAIL=notarytool-submit|notarytool submit failed (status 1): Error: HTTP status code: 401"
  "rejected|build|APPLE_TOOLS_NOTARY_STATUS=Invalid|the notary service did not accept the package: status Invalid"
  "staple fails|build|APPLE_TOOLS_FAIL=stapler-staple|stapler could not staple"
  "ticket invalid|build|APPLE_TOOLS_FAIL=stapler-validate|stapler does not validate"
  "Gatekeeper rejects|build|APPLE_TOOLS_FAIL=spctl|Gatekeeper (spctl --assess --type install) rejects the package"
)
for refusal in "${refusals[@]}"; do
  IFS='|' read -r what build assignment text <<<"$refusal"
  run "$work/$build" ${assignment:+"$assignment"}
  expect_failure "$what" "build-pkg: ${text}"
  [ "$(grep -c '^build-pkg: ' <<<"$out")" = 1 ] || fail "$what: not one line of build-pkg's: $out"
  [ -z "$(ls -A "$work/out")" ] || fail "$what: left $(ls -A "$work/out")"
done
# Code in the localization data is refused, not signed as ours.
mkdir -p "$work/stray-data"
cp -R "$source_dir/samples/package/." "$work/stray-data/"
make_macho "$work/stray-data/vornidfu/tool" "$both" "$system"
status=0
out=$(env APPLE_TOOLS_LOG="$log" "$build_pkg" --data "$work/stray-data" --build "$work/build" --output "$output" 2>&1) ||
  status=$?
expect_failure "stray Mach-O" "build-pkg: the data holds a Mach-O file, /Library/Vornid/vornidfu/tool"
[ -z "$(ls -A "$work/out")" ] || fail "stray Mach-O: left $(ls -A "$work/out")"
# A rejection prints the notary service's log, its issues included.
run "$work/build" APPLE_TOOLS_NOTARY_STATUS=Invalid
{ grep -q '^notarytool log 2efe2717-52ef-43a5-96dc-0797e4ca1041 --keychain-profile quorlex-notary$' "$log" &&
  grep -q '"status":"Invalid"' <<<"$out" && grep -q '"issues":\[' <<<"$out"; } ||
  fail "a rejection does not print the notary log: $out"
exit "$failed"
