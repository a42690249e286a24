#!/usr/bin/env bash
# The postinstall script, run as root, against a user who races it: an unprivileged account swaps the
# add-in tree's new folders for links to root-owned folders standing for /private/etc and
# /Library/LaunchDaemons, swaps the start counter and the install record for hard and symbolic links
# to a root-only file, and flips a folder between itself and a link, many runs each. Afterwards the system folders are
# unchanged (entries, owners, modes, bytes), the account can read no root-only byte anywhere, nothing
# below the home is root's, and every run either installed or failed with a reason of its own, none held
# up by a FIFO. Then the user stops their part of the script (root ends it within its limit, with a true
# line, having closed its descriptors to it), and six installations killed whole at random moments are
# followed by one that leaves no hidden folder and keeps the counter and the record.
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
# The user's part's time limit in these runs; each takes well under a second.
limit=4
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
  mkfifo "$stash/counter-fifo" "$stash/record-fifo"
  touch "$stash/ready"
  while :; do
    for pair in Miravelo/Miravelo_Info.txt:counter Orvandel/Orvandel_InstallRecord.txt:record \
      Miravelo/Miravelo_Info.txt:counter-symbolic Orvandel/Orvandel_InstallRecord.txt:record-symbolic \
      Miravelo/Miravelo_Info.txt:counter-fifo Orvandel/Orvandel_InstallRecord.txt:record-fifo; do
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
    out=$(INSTALLER_CONSOLE_USER=$account POSTINSTALL_USER_SECONDS=$limit "$work/scripts/postinstall" pkg \
      /Library/Vornid/AddIns "$volume/" 2>&1) || status=$?
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    case $status in
      0) installed=$((installed + 1)) ;;
      1) refused=$((refused + 1)) ;;
      *) fail "$name, run $run: status $status: $out" ;;
    esac
    # Each failure ends on a line of our own, not on a bare message of a tool; nothing the racer swaps
    # in (a FIFO among them) holds the run until its limit.
    [ "$status" = 0 ] || [[ $(tail -n 1 <<<"$out") == postinstall:* ]] || fail "$name, run $run: no reason of ours: $out"
    [[ $out != *"did not end within"* ]] || fail "$name, run $run: held up: $out"
  done
  echo "$name: $((run - 1)) runs"
  [ "$system_before" = "$(snapshot "$etc" "$daemons" "$staged")" ] ||
    fail_now "$name: the system changed: $(diff <(echo "$system_before") <(snapshot "$etc" "$daemons" "$staged"))"
}

started=$SECONDS
race "new folders swapped for links" "$swap_new_folders"
race "an upgrade's folders swapped for links" "$swap_new_folders" old
race "counter and record swapped for hard and symbolic links and FIFOs" "$swap_for_links" old
race "folders flipping" "$flip_folder" old
race "folders flipping, fresh install" "$flip_folder"

# postinstall_at_once [ENV...]: starts the script in a session of its own; sets $installer.
postinstall_at_once() {
  env INSTALLER_CONSOLE_USER="$account" "$@" setsid "$work/scripts/postinstall" pkg /Library/Vornid/AddIns \
    "$volume/" >"$work/out" 2>&1 &
  installer=$!
}

# user_group: the process group of the user's part of $installer once it runs as the account.
user_group() {
  local pid
  pid=$(pgrep -s "$installer" -u "$account" | head -n 1)
  [ -z "$pid" ] || ps -o pgid= -p "$pid" | tr -d ' '
}

# The user stops their part as soon as it runs, or as it copies (a staged add-in of many files makes
# the copy last): root ends it within its limit, says so, has closed its own descriptors to it, and
# both add-ins stay as they were.
mkdir "$staged/Orvandel/resources/bulk"
(cd "$staged/Orvandel/resources/bulk" && seq 4000 | xargs touch)
for delay in 0 0.1; do
  fresh_home old
  before=$(snapshot "$home")
  began=$SECONDS
  # A descriptor of root's, open when the script starts: it must not reach the user.
  postinstall_at_once POSTINSTALL_USER_SECONDS=2 7<"$etc/sudoers"
  group=""
  for _ in {1..400}; do
    group=$(user_group)
    [ -z "$group" ] || break
  done
  [ -n "$group" ] || fail_now "stopped: the user's part never ran"
  sleep "$delay"
  kill -STOP -- "-$group"
  leaked_fds=$(for pid in $(pgrep -g "$group"); do
    find /proc/"$pid"/fd -mindepth 1 -lname "$etc/sudoers" -printf "$pid: %f\n" 2>/dev/null
  done)
  status=0
  wait "$installer" || status=$?
  out=$(cat "$work/out")
  expect_failure "stopped after $delay s" "did not end within 2 s"
  [ $((SECONDS - began)) -le 8 ] || fail "stopped after $delay s: took $((SECONDS - began)) s"
  [[ $(tail -n 1 <<<"$out") == *"nothing was installed"* ]] || fail "stopped after $delay s: last line: $out"
  [ -z "$leaked_fds" ] || fail "stopped after $delay s: descriptors above 2 reach the user: $leaked_fds"
  [ "$before" = "$(snapshot "$home")" ] || fail "stopped after $delay s: the home changed: $(diff <(echo "$before") <(snapshot "$home"))"
done
rm -r "$staged/Orvandel/resources/bulk"

# Six installations killed whole (root's script and the user's part: the installer crashed) at random
# moments, then one that runs to its end: no hidden folder stays, the counter and the record are kept.
fresh_home old
for _ in 1 2 3 4 5 6; do
  postinstall_at_once
  sleep "0.$((RANDOM % 40))"
  # Again until none is left: a process forked while pkill looked would run on beside the next one.
  while pkill -KILL -s "$installer"; do sleep 0.01; done
  wait "$installer" 2>/dev/null || true
done
echo "killed at random: left $(find "$addins" -mindepth 1 -maxdepth 1 -printf '%f ')"
postinstall_at_once
status=0
wait "$installer" || status=$?
[ "$status" = 0 ] || fail "after six kills: status $status: $(cat "$work/out")"
[ -z "$(find "$addins" -mindepth 1 -maxdepth 1 -name '.*')" ] || fail "after six kills: hidden folders stay: $(ls -A "$addins")"
[ "$(cat "$addins/Miravelo/Miravelo_Info.txt" 2>&1)" = "$(printf '07.12.2026\n3')" ] || fail "after six kills: the counter is lost"
[ "$(cat "$addins/Orvandel/Orvandel_InstallRecord.txt" 2>&1)" = record ] || fail "after six kills: the record is lost"
[ "$(cat "$addins/Orvandel/version.txt")" = V2.0 ] || fail "after six kills: not the new version"

made=$(find "$volume/Users" -user root ! -samefile "$etc/sudoers" ! -path "$spent" ! -path "$volume/Users" | head -n 3)
[ -z "$made" ] || fail "root made entries below the home: $made"
leaked=$(as_account grep -rlsF "$secret" "$volume" || true)
[ -z "$leaked" ] || fail "the account reads root-only bytes in: $leaked"
echo "$((installed + refused)) runs in $((SECONDS - started)) s: $installed installed, $refused failed with a reason"
[ "$installed" -gt 0 ] || fail "no run installed: the races leave the installation no chance"

exit "$failed"
