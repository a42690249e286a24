#!/usr/bin/env bash
# build-pkg.sh --stage from a built folder: the tree laid over the Mac's / (the data package and both
# add-in folders at their installed paths, with their modes), the installer scripts of both components,
# the distribution with the build's version and oldest macOS; an upgrade of the data over an older
# package's; and the inputs it refuses.
# Usage: stage_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="$1"
build="$2"
build_pkg="$source_dir/packaging/macos/build-pkg.sh"
sample="$source_dir/samples/package"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" stage-test

# The add-in folders as the host loads them: library, resources, manifest; Orvandel also its version
# and the uninstaller. "x" marks the entries that must be executable.
addin_entries() {
  local lib=so
  [ "$(uname -s)" = Darwin ] && lib=dylib
  cat <<ENTRIES
Library/Vornid/AddIns/Miravelo/Miravelo.$lib x
Library/Vornid/AddIns/Miravelo/Miravelo.manifest
Library/Vornid/AddIns/Miravelo/resources/Pruvodce/16x16.png
Library/Vornid/AddIns/Miravelo/resources/Pruvodce/32x32.png
Library/Vornid/AddIns/Miravelo/resources/Pruvodce/LessTen/16x16.png
Library/Vornid/AddIns/Miravelo/resources/Pruvodce/LessTen/32x32.png
Library/Vornid/AddIns/Orvandel/Orvandel.$lib x
Library/Vornid/AddIns/Orvandel/Orvandel.manifest
Library/Vornid/AddIns/Orvandel/resources/Czech/16x16.png
Library/Vornid/AddIns/Orvandel/resources/Czech/32x32.png
Library/Vornid/AddIns/Orvandel/resources/NewCzech/16x16.png
Library/Vornid/AddIns/Orvandel/resources/NewCzech/32x32.png
Library/Vornid/AddIns/Orvandel/uninstaller x
Library/Vornid/AddIns/Orvandel/version.txt
ENTRIES
}

# expected_files DATA: every file of the staged root with its mode: the data's folders, then the add-ins.
expected_files() {
  (cd "$1" && find . -mindepth 2 -type f -printf 'Library/Vornid/%P 644\n')
  addin_entries | sed -e 's/ x$/ 755/' -e '/ 755$/!s/$/ 644/'
}

# staged_files DIR: every file below DIR/root with its mode; folders must all be 0755.
staged_files() {
  (cd "$1/root" && find . -type d ! -perm 0755 -printf 'folder %P %m\n' && find . -type f -printf '%P %m\n')
}

# --- The sample data and the build's add-ins.
stage="$work/stage"
"$build_pkg" --stage "$stage" --build "$build" >"$work/out.txt" 2>&1 || fail_now "staging failed: $(cat "$work/out.txt")"
diff <(expected_files "$sample" | sort) <(staged_files "$stage" | sort) >"$work/tree.diff" ||
  fail "staged tree (< expected, > staged): $(cat "$work/tree.diff")"
for folder in vornidfu VornidQM vornidca vornidhe; do
  diff -r "$sample/$folder" "$stage/root/Library/Vornid/$folder" >/dev/null || fail "data folder $folder differs"
done
# The installed libraries and program differ from the built ones (the install drops the build's run path).
while read -r path mode; do
  [ "$mode" = x ] && continue
  cmp -s "$build/addins/${path#Library/Vornid/AddIns/}" "$stage/root/$path" || fail "$path differs from the build's"
done < <(addin_entries)
[ "$(ls "$stage")" = "$(printf 'data-scripts\ndistribution.xml\nresources\nroot\nscripts')" ] ||
  fail "stage holds: $(ls "$stage")"
[ "$(ls "$stage/scripts")" = "$(printf 'postinstall\npreinstall')" ] || fail "scripts: $(ls "$stage/scripts")"
[ "$(ls "$stage/data-scripts")" = preinstall ] || fail "data-scripts: $(ls "$stage/data-scripts")"
for script in scripts/postinstall scripts/preinstall data-scripts/preinstall; do
  [ -x "$stage/$script" ] || fail "$script is not executable"
  cmp -s "$source_dir/packaging/macos/$script" "$stage/$script" || fail "$script differs"
done

# The distribution: well formed, with the build's values and the package's fixed choices.
distribution="$stage/distribution.xml"
xmllint --noout "$distribution" || fail "distribution.xml is not well formed"
value() { xmllint --xpath "string($1)" "$distribution"; }
version=$(sed -n 's/^QUORLEX_VERSION=//p' "$build/product.env")
minimum=$(sed -n 's/^QUORLEX_MACOS_MINIMUM=//p' "$build/product.env")
checks=(
  "/installer-gui-script/product/@version => $version"
  "/installer-gui-script/volume-check/allowed-os-versions/os-version/@min => $minimum"
  "/installer-gui-script/options/@hostArchitectures => arm64,x86_64"
  "count(//pkg-ref[@version]) => 2"
  "count(//pkg-ref[@version='$version']) => 2"
  "count(//pkg-ref[not(starts-with(@id, 'cz.quorlex.'))]) => 0"
  "count(//choices-outline/line) => 1"
  "count(//choice) => 1"
  "/installer-gui-script/title => Čeština pro Autodesk Fusion 360"
)
for check in "${checks[@]}"; do
  actual=$(value "${check%% => *}")
  [ "$actual" = "${check#* => }" ] || fail "distribution: ${check%% => *} is '$actual', expected '${check#* => }'"
done
# Every page the installer shows is staged where productbuild's --resources looks for it.
pages=$(xmllint --xpath '/installer-gui-script/*[self::welcome or self::conclusion]/@file' "$distribution" |
  sed -E 's/ *file="([^"]*)"/\1\n/g' | grep . | sort)
[ "$pages" = "$(ls "$stage/resources")" ] || fail "distribution names pages '$pages', resources hold '$(ls "$stage/resources")'"
! grep -q @ "$distribution" || fail "distribution: a placeholder was left: $(grep @ "$distribution")"

# --- Another data folder: its folders are the payload; files beside them are not.
data="$work/data"
for folder in vornidfu VornidQM vornidca vornidhe extra; do
  mkdir -p "$data/$folder/sub folder"
  echo "$folder" >"$data/$folder/sub folder/file.txt"
done
echo notes >"$data/README.md"
"$build_pkg" --stage "$work/other" --build "$build" --data "$data" >/dev/null 2>&1 || fail "--data: staging failed"
diff <(expected_files "$data" | sort) <(staged_files "$work/other" | sort) >"$work/other.diff" ||
  fail "--data: staged tree (< expected, > staged): $(cat "$work/other.diff")"

# --- The data component installed as the macOS installer does (its preinstall, then its payload laid
# over the volume), first from the package above, then from the sample's: what the newer package
# dropped is gone, and the data is the newer package's alone.
install_data() {
  sh "$1/data-scripts/preinstall" "$1" /Library/Vornid "$2" >/dev/null || fail "data preinstall of $1: status $?"
  mkdir -p "$2/Library/Vornid"
  for entry in "$1/root/Library/Vornid"/*; do
    [ "${entry##*/}" = AddIns ] || cp -R "$entry" "$2/Library/Vornid/"
  done
}
mac="$work/mac"
mkdir -p "$mac/Library/Vornid/AddIns/Orvandel"
install_data "$work/other" "$mac"
[ -f "$mac/Library/Vornid/extra/sub folder/file.txt" ] || fail "upgrade: the older package's data was not laid down"
install_data "$stage" "$mac"
diff -r -x AddIns "$stage/root/Library/Vornid" "$mac/Library/Vornid" >"$work/upgrade.diff" ||
  fail "upgrade: the data is not the newer package's alone: $(cat "$work/upgrade.diff")"
[ -d "$mac/Library/Vornid/AddIns/Orvandel" ] || fail "upgrade: the data preinstall touched the add-ins' place"

# --- Refused inputs: a clear message, and the stage folder left as it was.
mkdir -p "$work/bad-version" "$work/no-env" "$work/unbuilt" "$work/lacking/vornidfu" "$work/taken"
# shellcheck disable=SC2016 # the command substitution must reach the file unexpanded
printf 'QUORLEX_VERSION=1.0$(touch %s/ran)\nQUORLEX_MACOS_MINIMUM=14.0\n' "$work" >"$work/bad-version/product.env"
echo file >"$work/taken/file"
printf 'QUORLEX_VERSION=1.0\nQUORLEX_MACOS_MINIMUM=14.0\n' >"$work/unbuilt/product.env"
refusals=(
  "not empty|is not empty|--stage $work/taken --build $build"
  "no product.env|holds no product.env|--stage $work/refused --build $work/no-env"
  "a build folder without an install|cmake_install.cmake|--stage $work/refused --build $work/unbuilt"
  "a version that is no number|QUORLEX_VERSION is|--stage $work/refused --build $work/bad-version"
  "data lacking a folder|holds no VornidQM/|--stage $work/refused --build $build --data $work/lacking"
  "output with stage|--stage builds none|--stage $work/refused --build $build --output $work/x.pkg"
  "a missing value|--build needs a value|--stage $work/refused --build"
  "an unknown argument|unknown argument --sign|--stage $work/refused --sign me"
)
for refusal in "${refusals[@]}"; do
  IFS='|' read -r what message arguments <<<"$refusal"
  status=0
  # shellcheck disable=SC2086 # the arguments hold no blanks
  out=$("$build_pkg" $arguments 2>&1) || status=$?
  expect_failure "$what" "$message"
done
[ "$(ls "$work/taken")" = file ] || fail "not empty: the stage folder changed"
[ -z "$(ls -A "$work/refused" 2>/dev/null)" ] || fail "a refused run left $(ls -A "$work/refused")"
[ ! -e "$work/ran" ] || fail "product.env was run, not read"
if [ "$(uname -s)" != Darwin ]; then
  out=$("$build_pkg" --data "$sample" --build "$build" 2>&1) && fail "a package was built without pkgbuild"
  grep -qF -- "--stage DIR runs anywhere" <<<"$out" || fail "package off a Mac: unclear message: $out"
fi

exit "$failed"
