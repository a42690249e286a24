#!/usr/bin/env bash
# The package's installer scripts, run as the macOS installer runs them, against simulated Macs:
# a fresh install, an upgrade that keeps the users' files, links and files in the way, no console user,
# homes from the directory service, and the preinstall script's clearing of the staged place.
# Usage: postinstall_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
scripts="$1/packaging/macos/scripts"
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" postinstall-test

# The user given the add-ins: chown to another account needs root; CI runs as root.
if [ "$(id -u)" = 0 ]; then account=nobody; else account=$(id -un); fi
group=$(id -gn "$account")
tree="Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"

# new_mac NAME: a simulated Mac volume (its path holds a blank, as "Macintosh HD" does) with the
# package's payload staged and the account's home; sets $volume, $staged (the payload) and $home.
new_mac() {
  volume="$work/$1/Macintosh HD"
  staged="$volume/Library/Vornid/AddIns"
  home="$volume/Users/$account"
  mkdir -p "$staged/Orvandel/resources/Czech" "$staged/Miravelo/resources/Pruvodce" "$home"
  echo V2.0 >"$staged/Orvandel/version.txt"
  echo library >"$staged/Orvandel/Orvandel.so"
  echo program >"$staged/Orvandel/uninstaller"
  chmod 0755 "$staged/Orvandel/uninstaller"
  echo png >"$staged/Orvandel/resources/Czech/16x16.png"
  echo library >"$staged/Miravelo/Miravelo.so"
  echo png >"$staged/Miravelo/resources/Pruvodce/16x16.png"
}

# postinstall VOLUME [ENV...]: runs the script as the installer does (through sh, the way its #! line
# names it); output in $out, status in $status.
postinstall() {
  local volume=$1
  shift
  status=0
  out=$(env "$@" sh "$scripts/postinstall" "$volume/../pkg with blanks.pkg" /Library/Vornid/AddIns "$volume/" 2>&1) ||
    status=$?
}

# snapshot DIR: every entry below DIR with its type, owner, mode and link target.
snapshot() { (cd "$1" && find . -printf '%y %u %m %p %l\n' | sort); }

check_owned() {
  local what=$1 path=$2 wrong
  wrong=$(find "$path" \( ! -user "$account" -o ! -group "$group" \) -printf '%p\n' | head -n 3)
  [ -z "$wrong" ] || fail "$what: not owned by $account:$group: $wrong"
}

# --- A fresh install: both folders copied whole and given to the user, with the tree steps made for them.
new_mac fresh
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
[ "$status" = 0 ] || fail "fresh install: status $status: $out"
for name in Orvandel Miravelo; do
  diff -r "$staged/$name" "$home/$tree/$name" >/dev/null ||
    fail "fresh install: $name differs from the staged folder"
  check_owned "fresh install: $name" "$home/$tree/$name"
  grep -qF "$name installed in $home/$tree/$name for $account" <<<"$out" || fail "fresh install: no line for $name: $out"
done
[ -x "$home/$tree/Orvandel/uninstaller" ] || fail "fresh install: the uninstaller lost its execute bit"
check_owned "fresh install: the add-in tree below the home" "$home/Library"
[ "$(stat -c %U "$home")" = "$(id -un)" ] || fail "fresh install: the home itself changed owner"
[ -z "$(find "$volume/Library" ! -user "$(id -un)")" ] || fail "fresh install: the staged place changed owner"
[ -z "$(find "$home/$tree" -name '.*')" ] || fail "fresh install: temporary folders left behind"

# --- An upgrade: old files go, the start counter and the install record stay byte for byte.
new_mac upgrade
mkdir -p "$home/$tree/Orvandel/resources/Old" "$home/$tree/Miravelo"
echo V1.0 >"$home/$tree/Orvandel/version.txt"
echo old >"$home/$tree/Orvandel/resources/Old/16x16.png"
printf 'bundle file\r\nanother\n' >"$home/$tree/Orvandel/Orvandel_InstallRecord.txt"
printf '07.12.2026\n3\n' >"$home/$tree/Miravelo/Miravelo_Info.txt"
echo old >"$home/$tree/Miravelo/old-page.html"
chown -R "$account:$group" "$home/Library"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
[ "$status" = 0 ] || fail "upgrade: status $status: $out"
[ "$(cat "$home/$tree/Orvandel/version.txt")" = V2.0 ] || fail "upgrade: version.txt not replaced"
[ ! -e "$home/$tree/Orvandel/resources/Old" ] || fail "upgrade: a file of the older version stayed"
[ ! -e "$home/$tree/Miravelo/old-page.html" ] || fail "upgrade: a file of the older guide stayed"
[ "$(od -c "$home/$tree/Orvandel/Orvandel_InstallRecord.txt")" = "$(printf 'bundle file\r\nanother\n' | od -c)" ] ||
  fail "upgrade: the install record changed"
[ "$(cat "$home/$tree/Miravelo/Miravelo_Info.txt")" = "$(printf '07.12.2026\n3')" ] || fail "upgrade: the start counter changed"
check_owned "upgrade" "$home/$tree"
grep -qF "Miravelo upgraded in $home/$tree/Miravelo for $account, kept Miravelo_Info.txt" <<<"$out" ||
  fail "upgrade: no line saying the counter was kept: $out"
grep -qF "kept Orvandel_InstallRecord.txt" <<<"$out" || fail "upgrade: no line saying the record was kept: $out"
[ -z "$(find "$home/$tree" -name '.*')" ] || fail "upgrade: temporary folders left behind"

# A kept file that is a link is not carried over: the user's new folder gets no link that root made.
new_mac link-counter
mkdir -p "$home/$tree/Miravelo"
ln -s /etc/passwd "$home/$tree/Miravelo/Miravelo_Info.txt"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
[ "$status" = 0 ] || fail "linked counter: status $status: $out"
if [ -e "$home/$tree/Miravelo/Miravelo_Info.txt" ] || [ -L "$home/$tree/Miravelo/Miravelo_Info.txt" ]; then
  fail "linked counter: the link was carried over"
fi

# --- Links and files in the way: refused, naming the path, and nothing changes anywhere.
refusals=(
  "AddIns is a link:mkdir -p \"\$(dirname \"\$home/\$tree\")\" && ln -s \"\$outside\" \"\$home/\$tree\""
  "Orvandel is a file:mkdir -p \"\$home/\$tree\" && echo x >\"\$home/\$tree/Orvandel\""
  "Miravelo is a link:mkdir -p \"\$home/\$tree\" && ln -s \"\$outside\" \"\$home/\$tree/Miravelo\""
  "API is a file:mkdir -p \"\$home/Library/Application Support/Autodesk/Autodesk Fusion 360\" && echo x >\"\$home/Library/Application Support/Autodesk/Autodesk Fusion 360/API\""
  "Library is a link:ln -s \"\$outside\" \"\$home/Library\""
)
for case_ in "${refusals[@]}"; do
  what=${case_%%:*}
  new_mac "refusal $what"
  outside="$volume/outside"
  mkdir -p "$outside"
  eval "${case_#*:}"
  before=$(snapshot "$volume")
  postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
  expect_failure "$what" "is a link or a file, not a folder: nothing was installed"
  [ "$before" = "$(snapshot "$volume")" ] || fail "$what: the Mac changed"
done

# --- No user to install for: the status says so, nothing changes.
new_mac nobody-at-screen
before=$(snapshot "$volume")
for users in "-u INSTALLER_CONSOLE_USER" "INSTALLER_CONSOLE_USER=" "INSTALLER_CONSOLE_USER=root" \
  "INSTALLER_CONSOLE_USER=loginwindow"; do
  # shellcheck disable=SC2086 # the case is an env option and its argument
  postinstall "$volume" $users
  expect_failure "$users" "no user is logged in at the screen"
done
postinstall "$volume" INSTALLER_CONSOLE_USER=no-such-account-here
expect_failure "unknown account" "no-such-account-here has no account"
rm -rf "${volume:?}/Users/$account"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
expect_failure "missing home" "home folder $volume/Users/$account of $account does not exist"
mkdir "$volume/Users/$account"
[ "$before" = "$(snapshot "$volume")" ] || fail "no user: the Mac changed"
rm -rf "$volume/Library/Vornid/AddIns/Miravelo"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
expect_failure "nothing staged" "no $volume/Library/Vornid/AddIns/Miravelo"
[ ! -e "$volume/Users/$account/Library" ] || fail "nothing staged: the add-in tree was made"

# --- Homes from the directory service, below the target volume: dscl prints the value after the
# attribute's name, or on the next line when it is long. A stand-in answers for the account alone.
bin="$work/dscl-bin"
mkdir -p "$bin"
cat >"$bin/dscl" <<'DSCL'
#!/bin/sh
[ $# = 4 ] && [ "$1 $2 $3 $4" = ". -read /Users/$DSCL_ACCOUNT NFSHomeDirectory" ] || exit 56
printf '%b' "$DSCL_ANSWER"
DSCL
chmod +x "$bin/dscl"
for answer in 'NFSHomeDirectory: /Users/Jan Novák\n' 'NFSHomeDirectory:\n /Users/Jan Novák\n'; do
  new_mac "dscl $(printf '%s' "$answer" | md5sum | cut -c1-8)"
  mkdir -p "$volume/Users/Jan Novák"
  postinstall "$volume" INSTALLER_CONSOLE_USER="$account" PATH="$bin:$PATH" DSCL_ACCOUNT="$account" \
    DSCL_ANSWER="$answer"
  [ "$status" = 0 ] || fail "dscl '$answer': status $status: $out"
  [ -f "$volume/Users/Jan Novák/$tree/Miravelo/Miravelo.so" ] || fail "dscl '$answer': not placed in the home it gives"
  [ ! -e "$volume/Users/$account/Library" ] || fail "dscl '$answer': placed in Users/NAME instead"
done
postinstall "$volume" INSTALLER_CONSOLE_USER="$account" PATH="$bin:$PATH" DSCL_ACCOUNT=someone-else DSCL_ANSWER=
expect_failure "dscl without a home" "gives no home folder for $account"

# --- preinstall empties the staged add-in folders alone, and refuses a link in their place.
new_mac preinstall-elsewhere
elsewhere="$staged"
new_mac preinstall
echo keep >"$staged/other"
sh "$scripts/preinstall" pkg /Library/Vornid/AddIns "$volume" >/dev/null || fail "preinstall: status $?"
[ "$(ls -A "$staged")" = other ] || fail "preinstall: left $(ls -A "$staged")"
rm -rf "$staged"
ln -s "$elsewhere" "$staged"
if sh "$scripts/preinstall" pkg /Library/Vornid/AddIns "$volume" 2>/dev/null; then fail "preinstall: followed a link"; fi
[ -d "$elsewhere/Orvandel" ] || fail "preinstall: removed through the link"

exit "$failed"
