#!/usr/bin/env bash
# Builds the macOS installer package Orvandel-installer.pkg: the localization data under /Library/Vornid
# and both add-ins, staged in /Library/Vornid/AddIns, from where the postinstall script places them in
# the add-in tree of the user at the screen.
#
#   packaging/macos/build-pkg.sh --data DIR [--build DIR] [--output FILE]   on a Mac: the package
#   packaging/macos/build-pkg.sh --stage DIR [--data DIR] [--build DIR]     anywhere: the staged tree only
#
# --stage DIR (a new or empty folder) lays out exactly what pkgbuild and productbuild take: DIR/root/, one
#   tree laid over the Mac's / holding every payload at its installed path; DIR/scripts/, the installer
#   scripts; DIR/distribution.xml; DIR/resources/, the pages it names. The package build stages the same
#   way first.
# --build DIR names a configured and built build folder; without it the script configures and builds the
#   macos preset on a Mac, the release preset elsewhere. The version and the oldest macOS come from the
#   build's product.env.
# --data DIR names the localization data: its folders are laid out under /Library/Vornid. Staging
#   defaults to the embedded sample (samples/package); a package must name its data.
# --output FILE is where the package goes (default build/pkg/Orvandel-installer.pkg).
#
# Read from the environment, on a Mac only:
#   QUORLEX_INSTALLER_IDENTITY  a "Developer ID Installer: NAME (TEAM)" identity in the keychain: sign
#   QUORLEX_NOTARY_PROFILE      a notarytool keychain profile: notarize and staple (needs the identity)
#   QUORLEX_PACKAGE_TEAM_ID     the signing team the add-in accepts downloaded packages from (configure)
#   QUORLEX_HOST_SDK_DIR        the host's own add-in interface (configure; see README)
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

if [ -n "$stage_dir" ]; then
  [ -z "$output" ] || die "--output names a package; --stage builds none"
  [ -n "$data" ] || data="$top/samples/package"
else
  [ "$(uname -s)" = Darwin ] || die "a package needs Apple's pkgbuild and productbuild (macOS); --stage DIR runs anywhere"
  [ -n "$data" ] || die "name the localization data with --data DIR (the embedded sample is for staging)"
  [ -n "$output" ] || output="$top/build/pkg/Orvandel-installer.pkg"
  identity=${QUORLEX_INSTALLER_IDENTITY:-}
  profile=${QUORLEX_NOTARY_PROFILE:-}
  team=${QUORLEX_PACKAGE_TEAM_ID:-}
  [ -z "$profile" ] || [ -n "$identity" ] || die "notarization needs a signed package: set QUORLEX_INSTALLER_IDENTITY"
  # A pinned team other than the signer's would make the add-in refuse every package it downloads.
  if [ -n "$team" ] && [ -n "$identity" ]; then
    case $identity in
      *"($team)") ;;
      *) die "QUORLEX_PACKAGE_TEAM_ID $team is not the team of the identity $identity" ;;
    esac
  fi
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
if [ -n "${QUORLEX_PACKAGE_TEAM_ID:-}" ] &&
  ! grep -q "^QUORLEX_PACKAGE_TEAM_ID:[A-Z]*=$QUORLEX_PACKAGE_TEAM_ID\$" "$build/CMakeCache.txt"; then
  die "$build was not configured with QUORLEX_PACKAGE_TEAM_ID=$QUORLEX_PACKAGE_TEAM_ID"
fi
stage "$work/stage"
for name in $addins; do
  archs=$(lipo -archs "$work/stage/root/Library/Vornid/AddIns/$name/$name.dylib")
  case " $archs " in
    *" arm64 "*" x86_64 "* | *" x86_64 "*" arm64 "*) ;;
    *) die "$name.dylib holds '$archs', not both arm64 and x86_64" ;;
  esac
done

# Two components: the data, and the add-ins with the scripts that place them for the user.
mkdir -p "$work/components" "$(dirname "$output")"
ditto "$work/stage/root/Library/Vornid" "$work/data-root"
rm -rf "$work/data-root/AddIns"
pkgbuild --root "$work/data-root" --install-location /Library/Vornid --ownership recommended \
  --identifier cz.quorlex.localization.data --version "$version" "$work/components/localization-data.pkg"
pkgbuild --root "$work/stage/root/Library/Vornid/AddIns" --install-location /Library/Vornid/AddIns \
  --ownership recommended --scripts "$work/stage/scripts" \
  --identifier cz.quorlex.localization.addins --version "$version" "$work/components/localization-addins.pkg"

sign=()
[ -z "$identity" ] || sign=(--sign "$identity" --timestamp)
rm -f "$output"
productbuild --distribution "$work/stage/distribution.xml" --resources "$work/stage/resources" \
  --package-path "$work/components" \
  ${sign[@]+"${sign[@]}"} "$output"

if [ -z "$identity" ]; then
  echo "build-pkg: the package is unsigned (set QUORLEX_INSTALLER_IDENTITY to sign it); Gatekeeper will block it"
elif [ -z "$profile" ]; then
  echo "build-pkg: the package is signed but not notarized (set QUORLEX_NOTARY_PROFILE to notarize it)"
else
  # notarytool can end with status 0 on a rejected submission: its status line decides.
  xcrun notarytool submit "$output" --keychain-profile "$profile" --wait | tee "$work/notary.txt"
  grep -q 'status: Accepted' "$work/notary.txt" || die "notarization did not accept the package (see above)"
  xcrun stapler staple "$output"
fi
[ -z "$identity" ] || pkgutil --check-signature "$output"
echo "build-pkg: $output, version $version, macOS $minimum or later"
