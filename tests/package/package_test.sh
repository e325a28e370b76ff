#!/usr/bin/env bash
# The Debian package as a maintainer and an operator meet it:
# 1. its file list, owners and modes (dpkg-deb -c);
# 2. installed with dpkg: program directories root's (0755), each program's
#    settings in /var/lib/lumoscan/<program> (root:dialout 2770, lumo.mdb
#    0660). As an operator of group dialout: renaming or replacing a
#    program, making a file in a program directory and re-pointing a comN
#    link all fail; /usr/bin/lumoscan13 polls lumosim and a settings change
#    lands in the data directory, the history beside it (the operator's,
#    with the settings' rights; root's lumohistory reads it and leaves
#    nothing of root's). A user outside dialout cannot read the settings
#    file; mklumodb --force run by root keeps its group and mode;
#    removing keeps the settings, purging removes them;
# 3. an upgrade from the former layout (lumo.mdb in a program directory that
#    dialout could write; built from its commit by former-layout.sh): the
#    operator's change is kept in the data directory, the program directory
#    is root's again and what the operator planted in it is set aside.
# The machine is left as it was found: the package is purged, the users and
# every file made are removed; steps 2 and 3 are skipped when the package
# was installed before the test.
#   package_test.sh <lumoscan_*.deb> <the former layout's .deb>
set -euo pipefail
deb=$(readlink -f "$1")
former=$(readlink -f "$2")
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: skipped, it needs root (dpkg, users of its own)"
  exit 0
fi

work=$(mktemp -d)
chmod 0755 "$work"
operator=lumoop$$
outsider=lumoout$$
sims=()
ours=
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "$ours" ]; then dpkg -P lumoscan >/dev/null 2>&1 || true; fi
  userdel "$operator" 2>/dev/null || true
  userdel "$outsider" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }
is() { [ "$(stat -c '%U:%G %a' "$1")" = "$2" ] || fail "$1 is $(stat -c '%U:%G %a' "$1"), not $2"; }

# --- 1. What the package holds
listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6, $7, $8 }' | sed 's/ *$//')
while read -r line; do
  grep -qxF -- "$line" <<<"$listing" || fail "not in the package as expected: $line"
done <<'EXPECTED'
drwxr-xr-x root/root ./opt/lumoscan/lumoscan12/
drwxr-xr-x root/root ./opt/lumoscan/lumoscan13/
-rwxr-xr-x root/root ./opt/lumoscan/lumoscan12/lumoscan12
-rwxr-xr-x root/root ./opt/lumoscan/lumoscan13/lumoscan13
-rwxr-xr-x root/root ./opt/lumoscan/bin/lumosim
-rwxr-xr-x root/root ./opt/lumoscan/bin/mklumodb
-rwxr-xr-x root/root ./opt/lumoscan/bin/lumoprobe
lrwxrwxrwx root/root ./usr/bin/lumoscan12 -> /opt/lumoscan/lumoscan12/lumoscan12
lrwxrwxrwx root/root ./usr/bin/lumoscan13 -> /opt/lumoscan/lumoscan13/lumoscan13
-rw-r--r-- root/root ./usr/share/lumoscan/lumo.mdb
-rw-r--r-- root/root ./usr/share/applications/lumoscan12.desktop
-rw-r--r-- root/root ./usr/share/applications/lumoscan13.desktop
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/lumoscan.svg
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/lumoscan.png
-rw-r--r-- root/root ./usr/share/man/man7/lumoscan.7.gz
-rw-r--r-- root/root ./usr/share/doc/lumoscan/copyright
EXPECTED
# A settings file in the package would be overwritten by every upgrade: the
# package carries only the default, elsewhere.
! grep -q 'lumo.mdb' <<<"$(grep -v usr/share/lumoscan/lumo.mdb <<<"$listing")" ||
  fail "the package carries a settings file of its own"

if dpkg-query -W -f='${Status}' lumoscan 2>/dev/null | grep -q 'install ok installed'; then
  echo "package test: lumoscan was installed before this test; installing for real is skipped"
  exit 0
fi

useradd --system --no-create-home --shell /usr/sbin/nologin --groups dialout "$operator"
useradd --system --no-create-home --shell /usr/sbin/nologin "$outsider"
mkdir -m 0700 "$work/home" "$work/run"
chown "$operator:" "$work/home" "$work/run"

# A command line that runs as a user: their own uid, their own groups, no
# root; the display is added where there is one.
as_user() {
  echo setpriv --reuid="$(id -u "$1")" --regid="$(id -g "$1")" --init-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8
}
read -r -a as_operator <<<"$(as_user "$operator")"
read -r -a as_outsider <<<"$(as_user "$outsider")"

# lumosim on a pseudo-terminal linked (by root) as <dir>/com1; the terminal
# is given to group dialout as a real serial device is.
start_line() {
  local dir=$1 name=$2
  printf 'protocol modbus\ninstrument 1 flow=12.5\ninstrument 2 flow=2\n' > "$work/$name.scenario"
  /opt/lumoscan/bin/lumosim --scenario "$work/$name.scenario" --pty --link "$dir/com1" --log "$work/$name.log" \
    > "$work/$name.out" &
  sims+=($!)
  for _ in $(seq 100); do [ -e "$dir/com1" ] && break; sleep 0.05; done
  [ -e "$dir/com1" ] || fail "lumosim did not start: $(cat "$work/$name.out")"
  local slave
  slave=$(head -n 1 "$work/$name.out")
  chgrp dialout "$slave"
  chmod 0660 "$slave"
}
requests() { grep -c '"ev":"rx"' "$work/$1.log" || true; }
stored_interval() { sqlite3 "$1" "select timer from lumoe"; }

program=/opt/lumoscan/lumoscan13
data=/var/lib/lumoscan/lumoscan13
settings=$data/lumo.mdb

# Nothing below /opt/lumoscan that is not root's or that others may write
# (links aside, which have no mode of their own).
program_directories_are_roots() {
  local loose
  loose=$(find /opt/lumoscan \( ! -user root -o ! -group root -o \( ! -type l -perm /022 \) \) -printf '%p %u:%g %m\n')
  [ -z "$loose" ] || fail "in the program directories, not root's alone: $loose"
}

# --- 2. Installed with dpkg
ours=1
dpkg -i "$deb" >/dev/null
for p in lumoscan12 lumoscan13; do
  is "/opt/lumoscan/$p" "root:root 755"
  is "/var/lib/lumoscan/$p" "root:dialout 2770"
  is "/var/lib/lumoscan/$p/lumo.mdb" "root:dialout 660"
  [ ! -e "/opt/lumoscan/$p/lumo.mdb" ] || fail "a settings file in /opt/lumoscan/$p"
done
is /var/lib/lumoscan "root:root 755"
start_line "$program" installed
program_directories_are_roots

# What an operator must not be able to do to what root or another operator runs.
elsewhere=$work/elsewhere
touch "$elsewhere"
for attempt in "mv $program/lumoscan13 $program/lumoscan13.old" "cp /bin/true $program/lumoscan13" \
               "touch $program/qt.conf" "mkdir $program/platforms" "ln -sfn $elsewhere $program/com1" \
               "mv /opt/lumoscan/bin/lumoprobe /opt/lumoscan/bin/lumoprobe.old" "touch /opt/lumoscan/qt.conf"; do
  # shellcheck disable=SC2086
  if "${as_operator[@]}" $attempt 2>/dev/null; then fail "an operator could: $attempt"; fi
done
[ "$(readlink "$program/com1")" != "$elsewhere" ] || fail "an operator re-pointed com1"
program_directories_are_roots
echo "package test: an operator can neither rename, replace nor add to a program directory, nor re-point a port link"

# The operator clicks "修改", types an interval of 300, clicks "确定" and
# answers the question with Yes (the default button, Return). -ac lets a
# client of another user onto the display.
before=$(ls -A "$program")
xvfb-run -a -s "-screen 0 1280x800x24 -ac" bash -c '
  set -e
  program=$1
  shift
  "$@" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb "$program" & app=$!
  main=$(timeout 20 xdotool search --sync --name "^LUMO-QSPAR-MODBUS Ver1.3\$" | head -n 1)
  [ -n "$main" ]
  sleep 2
  xdotool mousemove --window "$main" 712 488 click 1
  sleep 0.3
  xdotool mousemove --window "$main" 280 540 click --repeat 3 1
  xdotool type --delay 30 300
  xdotool mousemove --window "$main" 712 536 click 1
  timeout 20 xdotool search --sync --name "^lumoscan13\$" >/dev/null
  sleep 0.3
  xdotool key Return
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app" 2>/dev/null; then kill "$app"; exit 1; fi
  wait "$app"
' _ /usr/bin/lumoscan13 "${as_operator[@]}" || fail "/usr/bin/lumoscan13 run by $operator did not end cleanly"
[ "$(requests installed)" -ge 3 ] || fail "/usr/bin/lumoscan13 polled $(requests installed) times"
[ "$(stored_interval "$settings")" = 300 ] || fail "the operator's change is not in $settings"
is "$settings" "root:dialout 660"
[ "$(ls -A "$program")" = "$before" ] || fail "the save left something in $program: $(ls -A "$program")"
echo "package test: /usr/bin/lumoscan13 polled $(requests installed) times as $operator and stored the change in $settings"

# The history beside the settings: the operator's, with the settings' rights
# (so the next operator's station writes it too); root's export reads it and
# leaves nothing of root's behind (SQLite's -shm of a root reader would lock
# the operators out).
history=$data/history.db
is "$history" "$operator:dialout 660"
today=$(date +%F)
/opt/lumoscan/bin/lumohistory export --what events --from "$today" --to "$today" --dir "$data" > "$work/events.csv" \
  || fail "lumohistory could not read $history"
grep -q '监测运行,lumoscan13' "$work/events.csv" || fail "the station's run is not among the events: $(cat "$work/events.csv")"
grep -q '设置更改,发送间隔 200→300' "$work/events.csv" || fail "the settings change is not among the events: $(cat "$work/events.csv")"
rooted=$(find "$data" -name 'history.db*' -user root)
[ -z "$rooted" ] || fail "root's export left files of root's beside the history: $rooted"
if "${as_outsider[@]}" cat "$history" >/dev/null 2>&1; then fail "a user outside dialout can read $history"; fi
echo "package test: the station kept its history in $history ($(stat -c '%U:%G %a' "$history")); lumohistory as root read it"

if "${as_outsider[@]}" cat "$settings" >/dev/null 2>&1; then fail "a user outside dialout can read $settings"; fi
"${as_operator[@]}" sqlite3 "$settings" "select timer from lumoe" >/dev/null || fail "$operator cannot read $settings"
/opt/lumoscan/bin/mklumodb --force "$settings" 1 200 13 9600
is "$settings" "root:dialout 660"
echo "package test: a user outside dialout cannot read the settings; mklumodb --force as root keeps their group and mode"

sqlite3 "$settings" "update lumoe set timer = '500'"
dpkg -i "$deb" >/dev/null
[ "$(stored_interval "$settings")" = 500 ] || fail "a reinstall overwrote the changed settings"
dpkg -r lumoscan >/dev/null 2>&1
[ ! -e /usr/bin/lumoscan13 ] || fail "/usr/bin/lumoscan13 is left after dpkg -r"
[ "$(stored_interval "$settings")" = 500 ] || fail "dpkg -r took the settings file"
dpkg -P lumoscan >/dev/null 2>&1
[ ! -e /var/lib/lumoscan ] || fail "/var/lib/lumoscan is left after dpkg -P: $(find /var/lib/lumoscan)"
[ ! -e /opt/lumoscan ] || fail "/opt/lumoscan is left after dpkg -P: $(find /opt/lumoscan)"
echo "package test: a reinstall kept the settings, remove kept them, purge removed them"

# --- 3. The upgrade from the former layout
dpkg -i "$former" >/dev/null
is "$program/lumo.mdb" "root:dialout 664"
"${as_operator[@]}" sqlite3 "$program/lumo.mdb" "update lumoe set timer = '450'"
# What the former layout let an operator do: plant a file Qt reads at start,
# and a port link of their own.
"${as_operator[@]}" sh -c "echo '[Paths]' > $program/qt.conf && ln -s $elsewhere $program/com2"
dpkg -i "$deb" >/dev/null 2>"$work/upgrade.err" || { cat "$work/upgrade.err" >&2; fail "the upgrade failed"; }
[ "$(stored_interval "$settings")" = 450 ] || fail "the upgrade lost the operator's change"
is "$settings" "root:dialout 660"
is "$data" "root:dialout 2770"
is "$program" "root:root 755"
for planted in lumo.mdb qt.conf com2; do
  [ ! -e "$program/$planted" ] && [ ! -L "$program/$planted" ] || fail "$program/$planted is left after the upgrade"
done
[ -f /var/lib/lumoscan/lumoscan13.set-aside/qt.conf ] || fail "the planted qt.conf was not set aside"
is /var/lib/lumoscan/lumoscan13.set-aside "root:root 700"
program_directories_are_roots
dpkg -i "$deb" >/dev/null 2>&1
[ "$(stored_interval "$settings")" = 450 ] || fail "a reinstall after the upgrade lost the settings"
dpkg -P lumoscan >/dev/null 2>&1
ours=
echo "package test: the upgrade from 1.3.0 kept the operator's change in $settings and set aside what was planted: $(tr '\n' ' ' < "$work/upgrade.err")"
