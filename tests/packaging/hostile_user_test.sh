#!/usr/bin/env bash
# The postinstall script, run as root, against a user who races it: an unprivileged account swaps the
# add-in tree's new folders for links to root-owned folders standing for /private/etc and
# /Library/LaunchDaemons, swaps the start counter and the install record for hard and symbolic links
# to a root-only file, and flips a folder between itself and a link, many runs each. Afterwards the system folders are
# unchanged (entries, owners, modes, bytes), the account can read no root-only byte anywhere, nothing
# below the home is root's, and every run either installed or failed with a reason of its own.
# Needs root (exit status 77, skipped, otherwise).
# Usage: hostile_user_test.sh SOURCE_DIR [RUNS [SECONDS]]   (per case: at most RUNS runs, default 12,
# begun within SECONDS, default 9; at least 3)
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: a root installer script raced by an unprivileged account needs root"
  exit 77
fi
runs=${2:-12}
seconds=${3:-9}
# shellcheck source=../support/shell_test.sh
source "$(dirname "$0")/../support/shell_test.sh" hostile-user-test

account=nobody
group=$(id -gn "$account")
as_account() { setpriv --reuid="$account" --regid="$group" --init-groups "$@"; }
chmod 0755 "$work"
as_account test -x "$work" || fail_now "$account cannot reach $work: set TMPDIR to a folder every account can enter"
# The scripts folder as the installer has it: root's alone.
mkdir -m 0700 "$work/scripts"
cp "$1/packaging/macos/scripts/postinstall" "$work/scripts/"
tree="Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns"
secret="root-only-$RANDOM$RANDOM"

# The simulated Mac: the system folders, the staged add-ins, the account's home with a stash folder.
volume="$work/mac/Macintosh HD"
etc="$volume/private/etc"
daemons="$volume/Library/LaunchDaemons"
staged="$volume/Library/Vornid/AddIns"
home="$volume/Users/$account"
addins="$home/$tree"
mkdir -p "$etc" "$daemons" "$staged/Orvandel/resources/Czech" "$staged/Miravelo/resources/Pruvodce"
printf '%s\nroot ALL=(ALL) ALL\n' "$secret" >"$etc/sudoers"
chmod 0440 "$etc/sudoers"
echo 'nobody:*:-2:-2::0:0:Unprivileged User:/var/empty:/usr/bin/false' >"$etc/passwd"
echo '<plist version="1.0"/>' >"$daemons/com.apple.example.plist"
for name in Orvandel Miravelo; do
  echo library >"$staged/$name/$name.so"
  echo png >"$staged/$name/resources/16x16.png"
done
echo V2.0 >"$staged/Orvandel/version.txt"

# snapshot DIR...: every entry with its type, owner, group, mode, link target and bytes.
snapshot() {
  find "$@" -printf '%y %u %g %m %p %l\n' | sort
  find "$@" -type f -exec md5sum {} + | sort
}
system_before=$(snapshot "$etc" "$daemons" "$staged")

# fresh_home [old]: an empty home, or one holding an earlier version with a counter and a record; the
# stash holds hard links to the root-only file (macOS lets a user link any file the user can see). The
# previous home is kept in $spent for the checks at the end.
spent="$volume/Users/spent"
mkdir -p "$spent"
fresh_home() {
  [ ! -e "$home" ] || mv "$home" "$spent/$((++homes))"
  mkdir -p "$home/stash"
  if [ "${1:-}" = old ]; then
    mkdir -p "$addins/Orvandel" "$addins/Miravelo"
    echo V1.0 >"$addins/Orvandel/version.txt"
    echo record >"$addins/Orvandel/Orvandel_InstallRecord.txt"
    printf '07.12.2026\n3\n' >"$addins/Miravelo/Miravelo_Info.txt"
  fi
  chown -R "$account:$group" "$home"
  ln "$etc/sudoers" "$home/stash/counter"
  ln "$etc/sudoers" "$home/stash/record"
}

# The racers: bash loops run as the account until killed; each touches $home/stash/ready first. Their
# arguments: the folder a link points at, the add-in tree, the stash.
# shellcheck disable=SC2016 # the racers' own variables, expanded as they run
swap_new_folders='
  target=$1 addins=$2
  steps=() path=${addins%/Library/*}
  rest=${addins#"$path"/}
  while [ -n "$rest" ]; do path="$path/${rest%%/*}"; steps+=("$path"); [[ $rest == */* ]] && rest=${rest#*/} || rest=""; done
  touch "$3/ready"
  while :; do
    for p in "${steps[@]}" "$addins"/.*.installing.* "$addins"/Orvandel "$addins"/Miravelo; do
      if [ -d "$p" ] && [ ! -L "$p" ]; then mv "$p" "$p.moved$RANDOM" 2>/dev/null && ln -s "$target" "$p" 2>/dev/null; fi
    done
  done'
# shellcheck disable=SC2016
swap_for_links='
  addins=$2 stash=$3
  ln -s "$(readlink -f "$stash/../../../private/etc/sudoers")" "$stash/counter-symbolic"
  ln -s "$(readlink -f "$stash/../../../private/etc/sudoers")" "$stash/record-symbolic"
  touch "$stash/ready"
  while :; do
    for pair in Miravelo/Miravelo_Info.txt:counter Orvandel/Orvandel_InstallRecord.txt:record \
      Miravelo/Miravelo_Info.txt:counter-symbolic Orvandel/Orvandel_InstallRecord.txt:record-symbolic; do
      kept=$addins/${pair%:*} link=$stash/${pair#*:}
      mv "$kept" "$stash/real" 2>/dev/null; mv "$link" "$kept" 2>/dev/null
      for f in "$addins"/.*.installing.*/"${kept##*/}"; do mv "$link" "$f" 2>/dev/null; done
      mv "$kept" "$link" 2>/dev/null; mv "$stash/real" "$kept" 2>/dev/null
    done
  done'
# shellcheck disable=SC2016
flip_folder='
  target=$1 addins=$2
  touch "$3/ready"
  while :; do
    for p in "$addins" "$addins/Miravelo" "$addins/Orvandel"; do
      mv "$p" "$p.real" 2>/dev/null && { ln -s "$target" "$p"; rm -f "$p"; mv "$p.real" "$p"; }
    done
  done'

homes=0
installed=0
refused=0
# race NAME RACER [old]: runs of postinstall, each against a fresh home and a fresh racer.
race() {
  local name=$1 racer=$2 run target pid status out deadline=$((SECONDS + seconds))
  for ((run = 1; run <= runs && (run <= 3 || SECONDS < deadline); run++)); do
    fresh_home "${3:-}"
    target=$etc
    [ $((run % 2)) = 0 ] || target=$daemons
    # Not through as_account: $! must be the racer itself for kill to reach it.
    setpriv --reuid="$account" --regid="$group" --init-groups \
      bash -c "$racer" racer "$target" "$addins" "$home/stash" 2>/dev/null &
    pid=$!
    for _ in {1..500}; do [ ! -e "$home/stash/ready" ] || break; sleep 0.01; done
    [ -e "$home/stash/ready" ] || fail_now "$name: the racer did not start"
    status=0
    out=$(INSTALLER_CONSOLE_USER=$account sh "$work/scripts/postinstall" pkg /Library/Vornid/AddIns "$volume/" 2>&1) ||
      status=$?
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    case $status in
      0) installed=$((installed + 1)) ;;
      1) refused=$((refused + 1)) ;;
      *) fail "$name, run $run: status $status: $out" ;;
    esac
    # Each failure ends on a line of our own, not on a bare message of a tool.
    [ "$status" = 0 ] || [[ $(tail -n 1 <<<"$out") == postinstall:* ]] || fail "$name, run $run: no reason of ours: $out"
  done
  echo "$name: $((run - 1)) runs"
  [ "$system_before" = "$(snapshot "$etc" "$daemons" "$staged")" ] ||
    fail_now "$name: the system changed: $(diff <(echo "$system_before") <(snapshot "$etc" "$daemons" "$staged"))"
}

started=$SECONDS
race "new folders swapped for links" "$swap_new_folders"
race "an upgrade's folders swapped for links" "$swap_new_folders" old
race "counter and record swapped for hard and symbolic links" "$swap_for_links" old
race "folders flipping" "$flip_folder" old
race "folders flipping, fresh install" "$flip_folder"

made=$(find "$volume/Users" -user root ! -samefile "$etc/sudoers" ! -path "$spent" ! -path "$volume/Users" | head -n 3)
[ -z "$made" ] || fail "root made entries below the home: $made"
leaked=$(as_account grep -rlsF "$secret" "$volume" || true)
[ -z "$leaked" ] || fail "the account reads root-only bytes in: $leaked"
echo "$((installed + refused)) runs in $((SECONDS - started)) s: $installed installed, $refused failed with a reason"
[ "$installed" -gt 0 ] || fail "no run installed: the races leave the installation no chance"

exit "$failed"
