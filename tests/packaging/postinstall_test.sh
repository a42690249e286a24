#!/usr/bin/env bash
# The package's installer scripts, run as the macOS installer runs them (root, from a scripts folder only
# root can read), against simulated Macs: a fresh install and an upgrade made with the user's rights, an
# upgrade that keeps the users' files, links and files in the way, a full disk, no console user, homes
# from the directory service, and both preinstall scripts' clearing of their places.
# Usage: postinstall_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" postinstall-test

# The user the add-ins are for: as root (CI) another account, which must reach the simulated Macs.
if [ "$(id -u)" = 0 ]; then account=nobody; else account=$(id -un); fi
group=$(id -gn "$account")
tree="Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
# as_account COMMAND...: COMMAND with the account's rights.
as_account() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid="$account" --regid="$group" --init-groups "$@"; else "$@"; fi
}
chmod 0755 "$work"
as_account test -x "$work" ||
  fail_now "$account cannot reach $work: set TMPDIR to a folder every account can enter"
scripts="$work/scripts"
mkdir -m 0700 "$scripts"
cp "$1/packaging/macos/scripts/"* "$scripts/"
cp "$1/packaging/macos/data-scripts/preinstall" "$scripts/data-preinstall"

# new_mac NAME: a simulated Mac volume (its path holds a blank, as "Macintosh HD" does) with the
# package's payload staged and the account's home; sets $volume, $staged (the payload) and $home.
new_mac() {
  volume="$work/$1/Macintosh HD"
  staged="$volume/Library/Vornid/AddIns"
  home="$volume/Users/$account"
  mkdir -p "$staged/Orvandel/resources/Czech" "$staged/Miravelo/resources/Pruvodce" "$home"
  chown "$account:$group" "$home"
  echo V2.0 >"$staged/Orvandel/version.txt"
  echo library >"$staged/Orvandel/Orvandel.so"
  echo program >"$staged/Orvandel/uninstaller"
  chmod 0755 "$staged/Orvandel/uninstaller"
  echo png >"$staged/Orvandel/resources/Czech/16x16.png"
  echo library >"$staged/Miravelo/Miravelo.so"
  echo png >"$staged/Miravelo/resources/Pruvodce/16x16.png"
}

# postinstall VOLUME [ENV...]: runs the script as the installer does (through its #! line); output in
# $out, status in $status.
postinstall() {
  local volume=$1
  shift
  local run=(env "$@" "$scripts/postinstall" "$volume/../pkg with blanks.pkg" /Library/Vornid/AddIns "$volume/")
  # The script trusts no PATH it inherits: stand-ins for the Mac's tools are laid over /usr/sbin, in a
  # mount namespace of the run's own.
  if [ -n "${tools:-}" ]; then
    # shellcheck disable=SC2016 # expanded by the inner shell
    run=(unshare --mount sh -c 'mount -t overlay overlay -o "lowerdir=$0:/usr/sbin" /usr/sbin && exec "$@"'
      "$tools" "${run[@]}")
  fi
  status=0
  out=$("${run[@]}" 2>&1) || status=$?
}

# snapshot DIR: every entry below DIR with its type, owner, mode, link target and bytes.
snapshot() { (cd "$1" && find . -printf '%y %u %m %p %l\n' | sort && find . -type f -exec md5sum {} + | sort); }

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
[ "$(stat -c %U "$home")" = "$account" ] || fail "fresh install: the home itself changed owner"
[ -z "$(find "$volume/Library" ! -user "$(id -un)")" ] || fail "fresh install: the staged place changed owner"
[ -z "$(find "$home/$tree" -name '.*')" ] || fail "fresh install: temporary folders left behind"

# old_version: the add-ins of an earlier package in $home, the user's, with a start counter and a record.
old_version() {
  mkdir -p "$home/$tree/Orvandel/resources/Old" "$home/$tree/Miravelo"
  echo V1.0 >"$home/$tree/Orvandel/version.txt"
  echo old >"$home/$tree/Orvandel/resources/Old/16x16.png"
  printf 'bundle file\r\nanother\n' >"$home/$tree/Orvandel/Orvandel_InstallRecord.txt"
  printf '07.12.2026\n3\n' >"$home/$tree/Miravelo/Miravelo_Info.txt"
  echo old >"$home/$tree/Miravelo/old-page.html"
  chown -R "$account:$group" "$home/Library"
}

# --- An upgrade: old files go, the start counter and the install record stay byte for byte.
new_mac upgrade
old_version
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

# A disk that fills up while the second add-in is copied: both add-ins stay at the old version, and the
# log says why in words of our own.
if [ "$(id -u)" != 0 ]; then
  echo "SKIP full disk: mounting a small file system needs root"
else
  new_mac full-disk
  mount -t tmpfs -o size=128k tmpfs "$home" || fail_now "full disk: cannot mount a tmpfs on $home"
  chown "$account:$group" "$home"
  old_version
  head -c 300000 /dev/zero >"$staged/Orvandel/resources/Czech/large.png"
  before=$(snapshot "$home")
  postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
  expect_failure "full disk" "could not copy Orvandel into $home/$tree (the reason is above): both add-ins stay as they were"
  grep -qF "No space left on device" <<<"$out" || fail "full disk: the system's reason is missing: $out"
  [ "$before" = "$(snapshot "$home")" ] || fail "full disk: the add-ins changed: $(diff <(echo "$before") <(snapshot "$home"))"
  umount "$home"
fi

# A kept file that is a link is not carried over: the user's new folder gets no link that root made.
new_mac link-counter
mkdir -p "$home/$tree/Miravelo"
ln -s /etc/passwd "$home/$tree/Miravelo/Miravelo_Info.txt"
chown -hR "$account:$group" "$home/Library"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
[ "$status" = 0 ] || fail "linked counter: status $status: $out"
if [ -e "$home/$tree/Miravelo/Miravelo_Info.txt" ] || [ -L "$home/$tree/Miravelo/Miravelo_Info.txt" ]; then
  fail "linked counter: the link was carried over"
fi

# A kept file that is a FIFO or huge: the run opens neither. The FIFO is not carried over, and says so;
# the huge file (sparse, 64 GiB) is carried over at once.
new_mac fifo-counter
old_version
rm "$home/$tree/Miravelo/Miravelo_Info.txt" "$home/$tree/Orvandel/Orvandel_InstallRecord.txt"
as_account mkfifo "$home/$tree/Miravelo/Miravelo_Info.txt"
as_account truncate -s 64G "$home/$tree/Orvandel/Orvandel_InstallRecord.txt"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account" POSTINSTALL_USER_SECONDS=10
[ "$status" = 0 ] || fail "FIFO counter: status $status: $out"
grep -qF "did not keep Miravelo_Info.txt (not a plain file)" <<<"$out" || fail "FIFO counter: not said: $out"
[ ! -e "$home/$tree/Miravelo/Miravelo_Info.txt" ] || fail "FIFO counter: carried over"
[ "$(stat -c %s "$home/$tree/Orvandel/Orvandel_InstallRecord.txt")" = $((64 << 30)) ] ||
  fail "huge record: not carried over"

# --- What stopped runs left: a previous folder aside where the add-in is missing goes back (counter
# kept); where the add-in is in place its record is carried over if the add-in lacks one; unfinished
# copies go, and so does a stopped uninstaller's empty folder. No hidden folder stays.
new_mac leftovers
old_version
addins="$home/$tree"
mv "$addins/Miravelo" "$addins/.Miravelo.replaced.101"
mkdir "$addins/.Miravelo.installing.101" "$addins/.Orvandel.installing.202" "$addins/.Orvandel-odinstalace"
echo partial >"$addins/.Orvandel.installing.202/Orvandel.so"
mkdir "$addins/.Orvandel.replaced.303"
mv "$addins/Orvandel/Orvandel_InstallRecord.txt" "$addins/.Orvandel.replaced.303/"
mkdir "$addins/.Miravelo.replaced.404" # a fresh install's mark: nothing was there
chown -R "$account:$group" "$home/Library"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
[ "$status" = 0 ] || fail "leftovers: status $status: $out"
[ "$(cat "$addins/Miravelo/Miravelo_Info.txt")" = "$(printf '07.12.2026\n3')" ] || fail "leftovers: the counter is lost"
[ "$(od -c "$addins/Orvandel/Orvandel_InstallRecord.txt")" = "$(printf 'bundle file\r\nanother\n' | od -c)" ] ||
  fail "leftovers: the record is lost"
[ -z "$(find "$addins" -mindepth 1 -maxdepth 1 -name '.*')" ] || fail "leftovers: hidden folders stay: $(ls -A "$addins")"
grep -qF "put the previous Miravelo back from $addins/.Miravelo.replaced.101" <<<"$out" ||
  fail "leftovers: the put-back is not said: $out"

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
chown "$account:$group" "$volume/Users/$account"
[ "$before" = "$(snapshot "$volume")" ] || fail "no user: the Mac changed"
rm -rf "$volume/Library/Vornid/AddIns/Miravelo"
postinstall "$volume" INSTALLER_CONSOLE_USER="$account"
expect_failure "nothing staged" "no $volume/Library/Vornid/AddIns/Miravelo"
[ ! -e "$volume/Users/$account/Library" ] || fail "nothing staged: the add-in tree was made"

# --- A PATH with a folder of the user's first: none of its programs runs as root.
new_mac trusted-path
bin="$work/users-bin"
mkdir -p "$bin"
for tool in uname id stat dscl cp mv sed env setpriv; do
  printf '#!/bin/sh\ntouch "%s/ran-%s"\nexit 1\n' "$work" "$tool" >"$bin/$tool"
  chmod +x "$bin/$tool"
done
postinstall "$volume" INSTALLER_CONSOLE_USER="$account" PATH="$bin:$PATH"
[ "$status" = 0 ] || fail "user's PATH: status $status: $out"
ran=$(find "$work" -maxdepth 1 -name 'ran-*' -printf '%f ')
[ -z "$ran" ] || fail "user's PATH: ran the user's $ran"

# --- Homes from the directory service, below the target volume: dscl prints the value after the
# attribute's name, or on the next line when it is long. A stand-in answers for the account alone;
# laying it over /usr/sbin needs root.
if [ "$(id -u)" != 0 ]; then
  echo "SKIP homes from dscl: laying a stand-in over /usr/sbin needs root"
else
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
  chown "$account:$group" "$volume/Users/Jan Novák"
  tools=$bin postinstall "$volume" INSTALLER_CONSOLE_USER="$account" DSCL_ACCOUNT="$account" DSCL_ANSWER="$answer"
  [ "$status" = 0 ] || fail "dscl '$answer': status $status: $out"
  [ -f "$volume/Users/Jan Novák/$tree/Miravelo/Miravelo.so" ] || fail "dscl '$answer': not placed in the home it gives"
  [ ! -e "$volume/Users/$account/Library" ] || fail "dscl '$answer': placed in Users/NAME instead"
done
tools=$bin postinstall "$volume" INSTALLER_CONSOLE_USER="$account" DSCL_ACCOUNT=someone-else DSCL_ANSWER=
expect_failure "dscl without a home" "gives no home folder for $account"
fi

# --- Each preinstall empties its own place alone: the data one every data folder (an upgrade must not
# keep a file the new package dropped), the add-ins' one the staged add-in folders.
new_mac preinstall
data="$volume/Library/Vornid"
mkdir -p "$data/vornidfu/sub" "$data/dropped"
echo old >"$data/vornidfu/sub/file.txt"
echo keep >"$data/notes.txt"
echo keep >"$staged/other"
sh "$scripts/data-preinstall" pkg /Library/Vornid "$volume" >/dev/null || fail "data preinstall: status $?"
[ "$(find "$data" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')" = "AddIns notes.txt " ] ||
  fail "data preinstall: left $(ls -A "$data")"
[ -d "$staged/Orvandel" ] || fail "data preinstall: cleared the add-ins' place"
sh "$scripts/preinstall" pkg /Library/Vornid/AddIns "$volume" >/dev/null || fail "preinstall: status $?"
[ "$(ls -A "$staged")" = other ] || fail "preinstall: left $(ls -A "$staged")"

# A data folder that cannot be removed (a mount point inside it): a line of the script's own says so.
if [ "$(id -u)" = 0 ]; then
  new_mac data-busy
  data="$volume/Library/Vornid"
  mkdir -p "$data/vornidfu/busy"
  mount -t tmpfs tmpfs "$data/vornidfu/busy" || fail_now "data busy: cannot mount a tmpfs"
  status=0
  out=$(sh "$scripts/data-preinstall" pkg /Library/Vornid "$volume" 2>&1) || status=$?
  umount "$data/vornidfu/busy"
  expect_failure "data busy" "could not remove all of the earlier data in $data"
fi

# A place that is a link, holds one, or that someone else can change: refused, nothing removed anywhere.
refusals=(
  "data-preinstall|a data folder is a link|ln -s \"\$elsewhere\" \"\$data/vornidhe\""
  "data-preinstall|Vornid is a link|mv \"\$data\" \"\$volume/moved\" && ln -s \"\$volume/moved\" \"\$data\""
  "data-preinstall|Vornid is open to all|chmod 0777 \"\$data\""
  "data-preinstall|Vornid is another's|chown \"\$account\" \"\$data\""
  "preinstall|AddIns is a link|mv \"\$staged\" \"\$volume/moved\" && ln -s \"\$elsewhere\" \"\$staged\""
  "preinstall|AddIns is open to its group|chmod 0775 \"\$staged\""
)
for refusal in "${refusals[@]}"; do
  IFS='|' read -r script what setup <<<"$refusal"
  [ "$(id -u)" = 0 ] || [[ $what != *"another's" ]] || continue
  new_mac "refused $what"
  data="$volume/Library/Vornid"
  elsewhere="$volume/elsewhere"
  mkdir -p "$data/vornidca/sub" "$elsewhere/sub"
  echo x | tee "$data/vornidca/sub/file" >"$elsewhere/sub/file"
  eval "$setup"
  before=$(snapshot "$volume")
  status=0
  out=$(sh "$scripts/$script" pkg /Library/Vornid "$volume" 2>&1) || status=$?
  expect_failure "$script: $what" "nothing was removed"
  [ "$before" = "$(snapshot "$volume")" ] || fail "$script: $what: the Mac changed"
done

exit "$failed"
