#!/usr/bin/env bash
# Builds the macOS installer package Orvandel-installer.pkg: the localization data under /Library/Vornid
# and both add-ins, staged in /Library/Vornid/AddIns, from where the postinstall script places them in
# the add-in tree of the user at the screen.
#
#   packaging/macos/build-pkg.sh --data DIR [--build DIR] [--output FILE]   on a Mac: the package
#   packaging/macos/build-pkg.sh --stage DIR [--data DIR] [--build DIR]     anywhere: the staged tree only
#
# --stage DIR (a new or empty folder) lays out exactly what pkgbuild and productbuild take: DIR/root/, one
#   tree laid over the Mac's / holding every payload at its installed path; DIR/scripts/, the add-ins
#   component's installer scripts; DIR/data-scripts/, the data component's; DIR/distribution.xml;
#   DIR/resources/, the pages it names. The package build stages the same way first.
# --build DIR names a configured and built build folder; without it the script configures and builds the
#   macos preset on a Mac, the release preset elsewhere. The version and the oldest macOS come from the
#   build's product.env.
# --data DIR names the localization data: its folders are laid out under /Library/Vornid. Staging
#   defaults to the embedded sample (samples/package); a package must name its data.
# --output FILE is where the package goes (default build/pkg/Orvandel-installer.pkg). The package is built
#   aside and put there only once every check has passed: every Mach-O file universal, linked to the
#   system and the host alone, signed and verified; the product signed, notarized, stapled and assessed
#   (see README). A failed run leaves no package there.
#
# Read from the environment, on a Mac only:
#   QUORLEX_APPLICATION_IDENTITY  a "Developer ID Application: NAME (TEAM)" identity in the keychain, or its
#                                 SHA-1 hash: sign every Mach-O file of the package (hardened runtime,
#                                 secure timestamp)
#   QUORLEX_INSTALLER_IDENTITY  a "Developer ID Installer: NAME (TEAM)" identity in the keychain, or its
#                               SHA-1 hash: sign the package (needs the application identity: unsigned
#                               code is never notarized)
#   An identity named by its hash is the way out when a renewed certificate leaves two valid identities of
#   one name (security find-identity -v lists them with their hashes); a name the keychain holds twice,
#   or not at all, is refused.
#   QUORLEX_NOTARY_PROFILE      a notarytool keychain profile: notarize and staple (needs the identities)
#   QUORLEX_PACKAGE_TEAM_ID     the signing team the add-in accepts downloaded packages from (configure)
#   QUORLEX_HOST_SDK_DIR        the host's own add-in interface (configure; see README). A package needs a
#                               build configured with it: without it the add-ins link the stand-in host,
#                               which no Mac has, and the script refuses the build.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
top="$(cd "$here/../.." && pwd)"
usage="usage: build-pkg.sh --data DIR [--build DIR] [--output FILE] | --stage DIR [--data DIR] [--build DIR]"
# The folders the language add-in copies from /Library/Vornid into the host bundle.
data_folders="vornidfu VornidQM vornidca vornidhe"
addins="Orvandel Miravelo"

die() {
  echo "build-pkg: $*" >&2
  exit 1
}

stage_dir=""
build=""
data=""
output=""
while [ $# -gt 0 ]; do
  case $1 in
    --stage | --build | --data | --output)
      if [ $# -lt 2 ] || [ -z "$2" ]; then die "$1 needs a value; $usage"; fi
      case $1 in
        --stage) stage_dir=$2 ;;
        --build) build=$2 ;;
        --data) data=$2 ;;
        --output) output=$2 ;;
      esac
      shift 2
      ;;
    -h | --help)
      echo "$usage"
      exit 0
      ;;
    *) die "unknown argument $1; $usage" ;;
  esac
done

absolute() { (cd "$1" && pwd); }

# identity_name VARIABLE IDENTITY KIND: the name of IDENTITY, a "Developer ID KIND: NAME (TEAM)"
# identity given by that name or by its SHA-1 hash, found once among the keychain's valid identities;
# nothing for an empty one.
identity_name() {
  local name valid count
  [ -n "$2" ] || return 0
  # "  1) HASH "NAME"" a line (security(1), find-identity -v: valid identities only).
  valid=$(security find-identity -v 2>/dev/null | sed -n 's/^ *[0-9][0-9]*) \([0-9A-Fa-f]\{40\}\) "\(.*\)"$/\1 \2/p')
  if [[ $2 =~ ^[0-9A-Fa-f]{40}$ ]]; then
    name=$(grep -i "^$2 " <<<"$valid" | head -n 1 | cut -d ' ' -f 2-)
    [ -n "$name" ] || die "$1 $2: no valid identity with this SHA-1 hash in the keychain (security find-identity -v)"
  else
    name=$2
    [[ $name =~ ^Developer\ ID\ $3:\ .+\ \(([A-Z0-9]{10})\)$ ]] ||
      die "$1 '$name' is not a \"Developer ID $3: NAME (TEAM)\" identity"
    count=$(cut -d ' ' -f 2- <<<"$valid" | grep -cxF -- "$name" || true)
    if [ "$count" = 0 ]; then
      die "$1 '$name': no valid identity of this name in the keychain (security find-identity -v)"
    elif [ "$count" != 1 ]; then
      die "$1 '$name': the keychain holds $count valid identities of this name; give the one to use by its SHA-1 hash (security find-identity -v lists them)"
    fi
  fi
  # A hash may name an identity of another kind.
  [[ $name =~ ^Developer\ ID\ $3:\ .+\ \(([A-Z0-9]{10})\)$ ]] ||
    die "$1 '$name' is not a \"Developer ID $3: NAME (TEAM)\" identity"
  echo "$name"
}

# identity_team NAME: the team of a "Developer ID KIND: NAME (TEAM)" identity; nothing for an empty one.
identity_team() {
  [ -n "$1" ] || return 0
  local team_of=${1##*(}
  echo "${team_of%)}"
}

if [ -n "$stage_dir" ]; then
  [ -z "$output" ] || die "--output names a package; --stage builds none"
  [ -n "$data" ] || data="$top/samples/package"
else
  [ "$(uname -s)" = Darwin ] || die "a package needs Apple's pkgbuild and productbuild (macOS); --stage DIR runs anywhere"
  [ -n "$data" ] || die "name the localization data with --data DIR (the embedded sample is for staging)"
  [ -n "$output" ] || output="$top/build/pkg/Orvandel-installer.pkg"
  [ ! -d "$output" ] || die "--output $output is a folder, not a package file"
  # Whatever stops this run, no package is left where an upload step would take it.
  rm -f "$output"
  application=${QUORLEX_APPLICATION_IDENTITY:-}
  identity=${QUORLEX_INSTALLER_IDENTITY:-}
  profile=${QUORLEX_NOTARY_PROFILE:-}
  team=${QUORLEX_PACKAGE_TEAM_ID:-}
  [ -z "$profile" ] || [ -n "$identity" ] || die "notarization needs a signed package: set QUORLEX_INSTALLER_IDENTITY"
  [ -z "$identity" ] || [ -n "$application" ] ||
    die "QUORLEX_INSTALLER_IDENTITY is set but QUORLEX_APPLICATION_IDENTITY is not: a package signed around unsigned code cannot be notarized"
  application_name=$(identity_name QUORLEX_APPLICATION_IDENTITY "$application" Application)
  installer_name=$(identity_name QUORLEX_INSTALLER_IDENTITY "$identity" Installer)
  application_team=$(identity_team "$application_name")
  installer_team=$(identity_team "$installer_name")
  if [ -n "$application_team" ] && [ -n "$installer_team" ] && [ "$application_team" != "$installer_team" ]; then
    die "the application identity's team $application_team is not the installer identity's team $installer_team"
  fi
  # A pinned team other than the signers' would make the add-in refuse every package it downloads.
  for signer_team in "$application_team" "$installer_team"; do
    [ -z "$team" ] || [ -z "$signer_team" ] || [ "$team" = "$signer_team" ] ||
      die "QUORLEX_PACKAGE_TEAM_ID $team is not the signing identities' team $signer_team"
  done
fi

[ -d "$data" ] || die "no data folder $data"
data=$(absolute "$data")
for folder in $data_folders; do
  [ -d "$data/$folder" ] || die "the data folder $data holds no $folder/"
done
[ ! -e "$data/AddIns" ] || die "the data folder $data holds AddIns, the add-ins' staged place"

work=$(mktemp -d "${TMPDIR:-/tmp}/build-pkg.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -z "$build" ]; then
  configure=()
  if [ "$(uname -s)" = Darwin ]; then
    preset=macos
    [ -n "$stage_dir" ] || [ -n "${QUORLEX_HOST_SDK_DIR:-}" ] ||
      die "a package needs the host's interface: set QUORLEX_HOST_SDK_DIR (see README)"
    [ -z "${QUORLEX_HOST_SDK_DIR:-}" ] || configure+=("-DQUORLEX_HOST_SDK_DIR=$QUORLEX_HOST_SDK_DIR")
    [ -z "${QUORLEX_PACKAGE_TEAM_ID:-}" ] || configure+=("-DQUORLEX_PACKAGE_TEAM_ID=$QUORLEX_PACKAGE_TEAM_ID")
  else
    preset=release
  fi
  echo "build-pkg: building the $preset preset"
  (cd "$top" && cmake --preset "$preset" ${configure[@]+"${configure[@]}"} >/dev/null)
  build="$top/build/$preset"
  cmake --build "$build" --target Orvandel Miravelo uninstaller >/dev/null
fi
[ -d "$build" ] || die "no build folder $build"
build=$(absolute "$build")
[ -f "$build/product.env" ] || die "$build holds no product.env: configure it with a preset first"

# product.env holds shell assignments; they are read, not run.
product_value() {
  local value
  value=$(sed -n "s/^$1=//p" "$build/product.env" | tail -n 1)
  [[ $value =~ ^[0-9]+(\.[0-9]+)*$ ]] || die "$build/product.env: $1 is '$value', not a dotted number"
  echo "$value"
}
version=$(product_value QUORLEX_VERSION)
minimum=$(product_value QUORLEX_MACOS_MINIMUM)

# stage DIR: the layout described at the top.
stage() {
  local dir=$1 root entry name
  root="$dir/root/Library/Vornid"
  mkdir -p "$root/AddIns" "$dir/scripts" "$dir/resources"

  for entry in "$data"/*; do
    if [ -d "$entry" ] && [ ! -L "$entry" ]; then cp -R "$entry" "$root/"; fi
  done

  cmake --install "$build" --prefix "$work/install" >/dev/null
  for name in $addins; do
    [ -d "$work/install/$name" ] || die "cmake --install $build gave no $name folder"
    cp -R "$work/install/$name" "$root/AddIns/"
  done

  # Folders 0755; files 0644 but for the add-ins' programs and libraries, 0755 (cmake --install leaves
  # a module library 0644 on Linux).
  find "$dir/root" -type d -exec chmod 0755 {} +
  find "$root" -path "$root/AddIns" -prune -o -type f -exec chmod 0644 {} +
  find "$root/AddIns" -type f -perm -0100 -exec chmod 0755 {} +
  find "$root/AddIns" -type f ! -perm -0100 -exec chmod 0644 {} +
  for name in $addins; do
    for entry in "$root/AddIns/$name/$name.dylib" "$root/AddIns/$name/$name.so"; do
      [ ! -f "$entry" ] || chmod 0755 "$entry"
    done
  done

  cp "$here/scripts/preinstall" "$here/scripts/postinstall" "$dir/scripts/"
  chmod 0755 "$dir/scripts/preinstall" "$dir/scripts/postinstall"
  mkdir -p "$dir/data-scripts"
  install -m 0755 "$here/data-scripts/preinstall" "$dir/data-scripts/preinstall"

  cp "$here/resources/welcome.html" "$here/resources/conclusion.html" "$dir/resources/"
  chmod 0644 "$dir/resources/"*
  sed -e "s/@QUORLEX_VERSION@/$version/g" -e "s/@QUORLEX_MACOS_MINIMUM@/$minimum/g" \
    "$here/distribution.xml" >"$dir/distribution.xml"
}

if [ -n "$stage_dir" ]; then
  mkdir -p "$stage_dir"
  [ -z "$(ls -A "$stage_dir")" ] || die "$stage_dir is not empty"
  # Staged aside and moved in whole (modes kept), so that a failed run leaves DIR empty.
  stage "$work/stage"
  mv "$work/stage/"* "$stage_dir/"
  echo "build-pkg: staged version $version (macOS $minimum or later) in $stage_dir"
  exit 0
fi

# The package: a build made for the real host, universal like the package's host architectures.
if grep -q '^QUORLEX_HOSTSIM:BOOL=ON$' "$build/CMakeCache.txt" 2>/dev/null; then
  die "$build is a simulation build (QUORLEX_HOSTSIM on); a package needs the macos preset"
fi
# Configured against the host's interface: without it the add-ins link the stand-in host
# (@rpath/libhost.dylib), which no Mac has, and the host would refuse to load them.
sdk=$(sed -n 's/^QUORLEX_HOST_SDK_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null | tail -n 1)
[ -n "$sdk" ] ||
  die "$build was configured without QUORLEX_HOST_SDK_DIR: its add-ins link the stand-in host, not the host's interface (see README)"
[ -f "$sdk/include/Core/CoreAll.h" ] ||
  die "$build's QUORLEX_HOST_SDK_DIR $sdk holds no include/Core/CoreAll.h: it is not the host's interface"
if [ -n "${QUORLEX_PACKAGE_TEAM_ID:-}" ] &&
  ! grep -q "^QUORLEX_PACKAGE_TEAM_ID:[A-Z]*=$QUORLEX_PACKAGE_TEAM_ID\$" "$build/CMakeCache.txt"; then
  die "$build was not configured with QUORLEX_PACKAGE_TEAM_ID=$QUORLEX_PACKAGE_TEAM_ID"
fi
stage "$work/stage"
payload="$work/stage/root"

# is_macho FILE: FILE begins with a Mach-O magic number, thin (either byte order) or universal. Java class
# files share the universal magic; their version number, where a universal file counts its
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

# Every Mach-O file of the payload, found by its content: whatever code the build or the data add.
code=()
while IFS= read -r -d '' entry; do
  if is_macho "$entry"; then code+=("$entry"); fi
done < <(find "$payload" -type f -print0 | sort -z)
for name in Orvandel/Orvandel.dylib Miravelo/Miravelo.dylib Orvandel/uninstaller; do
  entry="$payload/Library/Vornid/AddIns/$name"
  [ -f "$entry" ] || die "the build gave no $name"
  is_macho "$entry" || die "$name is not a Mach-O file"
done

# The libraries the host's interface brings (their names as linked), and the package's own code.
host_libraries=" "
for entry in "$sdk"/lib/*.dylib; do
  [ ! -e "$entry" ] || host_libraries+="$(basename "$entry") "
done
packaged=" "
for entry in "${code[@]}"; do
  packaged+="$(basename "$entry") "
  # The localization data is text and pictures: code there would be signed as ours unseen.
  case $entry in
    "$payload/Library/Vornid/AddIns/"*) ;;
    *) die "the data holds a Mach-O file, ${entry#"$payload"}: code belongs to the add-ins alone" ;;
  esac
done

# Universal, and linked only to what every Mac and the host give: a library found at configure time (a
# libcurl from a package manager) would fail to load on the users' Macs.
for entry in "${code[@]}"; do
  name=${entry#"$payload"}
  archs=$(lipo -archs "$entry") || die "lipo cannot read the architectures of $name"
  case " $archs " in
    *" arm64 "*) ;;
    *) die "$name holds '$archs', not both arm64 and x86_64" ;;
  esac
  case " $archs " in
    *" x86_64 "*) ;;
    *) die "$name holds '$archs', not both arm64 and x86_64" ;;
  esac
  links=$(otool -arch all -L "$entry") || die "otool cannot list the libraries $name links"
  while IFS= read -r line; do
    [[ $line == $'\t'* ]] || continue
    library=${line#$'\t'}
    library=${library% (compatibility version*}
    case $library in
      /usr/lib/* | /System/Library/*) ;;
      @rpath/*)
        # Found through the host's run paths, so the host's interface or the package must hold it.
        case "$host_libraries$packaged" in
          *" $(basename "$library") "*) ;;
          *) die "$name links $library, which is neither in the host's interface ($sdk/lib) nor in the package" ;;
        esac
        ;;
      *)
        case $host_libraries in
          *" $(basename "$library") "*) ;;
          *) die "$name links $library, which is neither the system's nor the host's" ;;
        esac
        ;;
    esac
  done <<<"$links"
done

# Signed with the Developer ID Application identity, a secure timestamp and the hardened runtime, as the
# notary service demands of every Mach-O file in a package; then checked, so that an ad hoc or
# incomplete signature stops here and not at the notary service.
if [ -n "$application" ]; then
  for entry in "${code[@]}"; do
    name=${entry#"$payload"}
    codesign --force --sign "$application" --timestamp --options runtime "$entry" ||
      die "codesign could not sign $name with $application"
    codesign --verify --strict "$entry" || die "the signature of $name does not verify (codesign --verify --strict)"
    signature=$(codesign --display --verbose=2 "$entry" 2>&1) || die "$name is not signed"
    authority=$(sed -n 's/^Authority=//p' <<<"$signature" | head -n 1)
    if grep -q '^Signature=adhoc' <<<"$signature"; then
      die "$name is signed ad hoc, not by $application"
    elif [ "$authority" != "$application_name" ]; then
      die "$name is signed by '${authority:-nobody}', not by $application_name"
    elif ! grep -q '^TeamIdentifier='"$application_team"'$' <<<"$signature"; then
      die "$name is not signed by the team $application_team"
    elif ! grep -q '^Timestamp=' <<<"$signature"; then
      die "$name's signature has no secure timestamp"
    elif ! grep -q '^CodeDirectory .*flags=0x[0-9a-f]*(.*runtime.*)' <<<"$signature"; then
      die "$name's signature does not enable the hardened runtime"
    fi
  done
else
  echo "build-pkg: the code is unsigned (set QUORLEX_APPLICATION_IDENTITY to sign it); it cannot be notarized"
fi

# Two components: the data, and the add-ins with the scripts that place them for the user.
mkdir -p "$work/components" "$(dirname "$output")"
ditto "$payload/Library/Vornid" "$work/data-root" || die "ditto could not copy the data aside"
rm -rf "$work/data-root/AddIns"
data_scripts=()
[ ! -d "$work/stage/data-scripts" ] || data_scripts=(--scripts "$work/stage/data-scripts")
pkgbuild --root "$work/data-root" --install-location /Library/Vornid --ownership recommended \
  ${data_scripts[@]+"${data_scripts[@]}"} \
  --identifier cz.quorlex.localization.data --version "$version" "$work/components/localization-data.pkg" ||
  die "pkgbuild could not build the data component"
pkgbuild --root "$payload/Library/Vornid/AddIns" --install-location /Library/Vornid/AddIns \
  --ownership recommended --scripts "$work/stage/scripts" \
  --identifier cz.quorlex.localization.addins --version "$version" "$work/components/localization-addins.pkg" ||
  die "pkgbuild could not build the add-ins component"

# Built aside; moved to --output only once every step has passed.
package="$work/$(basename "$output")"
sign=()
[ -z "$identity" ] || sign=(--sign "$identity" --timestamp)
productbuild --distribution "$work/stage/distribution.xml" --resources "$work/stage/resources" \
  --package-path "$work/components" ${sign[@]+"${sign[@]}"} "$package" ||
  die "productbuild could not build the package"

# json_value KEY: the string value of KEY in notarytool's JSON on stdin.
json_value() {
  sed -n 's/.*"'"$1"'"[[:space:]]*:[[:space:]]*"\([^"]*\)".*/\1/p' | head -n 1
}

# deliver: the package at --output, whole or not at all (copied beside it, then renamed over it).
deliver() {
  local partial
  partial=$(mktemp "$(dirname "$output")/.$(basename "$output").XXXXXX") || die "cannot write beside $output"
  if ! cp "$package" "$partial" || ! chmod 0644 "$partial" || ! mv -f "$partial" "$output"; then
    rm -f "$partial"
    die "could not write the package to $output"
  fi
}

summary="version $version, macOS $minimum or later"
if [ -z "$identity" ]; then
  echo "build-pkg: the package is unsigned (set QUORLEX_INSTALLER_IDENTITY to sign it); Gatekeeper will block it"
elif [ -z "$profile" ]; then
  echo "build-pkg: the package is signed but not notarized (set QUORLEX_NOTARY_PROFILE to notarize it)"
  pkgutil --check-signature "$package" || die "pkgutil does not accept the package's signature"
else
  # notarytool ends with status 0 on a rejected submission too: its status decides.
  submitted=0
  xcrun notarytool submit "$package" --keychain-profile "$profile" --wait --output-format json \
    >"$work/notary.json" 2>"$work/notary.err" || submitted=$?
  cat "$work/notary.json"
  status=$(json_value status <"$work/notary.json")
  submission=$(json_value id <"$work/notary.json")
  if [ -z "$status" ]; then
    die "notarytool submit failed (status $submitted): $(grep . "$work/notary.err" | tail -n 1)"
  elif [ "$status" != Accepted ]; then
    # The log lists the issues the service found, each with the file and architecture.
    [ -z "$submission" ] || xcrun notarytool log "$submission" --keychain-profile "$profile" >&2 ||
      die "the notary service did not accept the package: status $status; notarytool log could not fetch why"
    die "the notary service did not accept the package: status $status (its log is above)"
  fi
  xcrun stapler staple "$package" || die "stapler could not staple the notarization ticket to the package"
  xcrun stapler validate "$package" || die "stapler does not validate the stapled ticket"
  assessment=$(spctl --assess --type install --verbose "$package" 2>&1) || {
    echo "$assessment" >&2
    die "Gatekeeper (spctl --assess --type install) rejects the package"
  }
  check=$(pkgutil --check-signature "$package") || {
    echo "$check" >&2
    die "pkgutil does not accept the package's signature"
  }
  grep -q '^ *Status: signed by a developer certificate issued by Apple for distribution$' <<<"$check" ||
    die "pkgutil does not report a Developer ID signature on the package"
  deliver
  echo "build-pkg: $output, $summary: notarized and stapled; Gatekeeper's and pkgutil's verdicts:"
  echo "$assessment"
  echo "$check"
  exit 0
fi
deliver
echo "build-pkg: $output, $summary"
