#!/usr/bin/env bash
# The Debian package as a maintainer and an operator meet it:
# 1. its file list, owners and modes (dpkg-deb -c);
# 2. unpacked into a temporary root, configured by its own postinst, and run
#    from there by an operator of group dialout (not root) under Xvfb: it
#    polls lumosim, and a settings change answered Yes is stored;
# 3. installed for real with dpkg: /usr/bin/lumoscan13 finds
#    /opt/lumoscan/lumoscan13/lumo.mdb, a reinstall keeps a changed lumo.mdb,
#    removing keeps it, purging removes it.
# The machine is left as it was found: the package is purged, the operator
# and every file made are removed; step 3 is skipped when the package was
# installed before the test.
#   package_test.sh <lumoscan_*.deb>
set -euo pipefail
deb=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: skipped, it needs root (dpkg, an operator of its own)"
  exit 0
fi

work=$(mktemp -d)
chmod 0755 "$work"
operator=lumoop$$
sims=()
ours=
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "$ours" ]; then dpkg -P lumoscan >/dev/null 2>&1 || true; fi
  userdel "$operator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

# --- 1. What the package holds
listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6, $7, $8 }' | sed 's/ *$//')
while read -r line; do
  grep -qxF -- "$line" <<<"$listing" || fail "not in the package as expected: $line"
done <<'EXPECTED'
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
# A settings file in the program directories would be overwritten by every
# upgrade: the package carries only the default, elsewhere.
! grep -q 'lumoscan1[23]/lumo.mdb' <<<"$listing" || fail "the package carries a program's own lumo.mdb"

useradd --system --no-create-home --shell /usr/sbin/nologin --groups dialout "$operator"
uid=$(id -u "$operator")
mkdir -m 0700 "$work/home" "$work/run"
chown "$operator:" "$work/home" "$work/run"

# A command line that runs as the operator: their own user, group dialout,
# no root; the display is added where there is one.
as_operator=(setpriv --reuid="$uid" --regid="$(id -g "$operator")" --init-groups
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8)

# lumosim on a pseudo-terminal linked as <dir>/com1; the terminal is given
# to group dialout as a real serial device is.
start_line() {
  local lumosim=$1 dir=$2 name=$3
  printf 'protocol modbus\ninstrument 1 flow=12.5\ninstrument 2 flow=2\n' > "$work/$name.scenario"
  "$lumosim" --scenario "$work/$name.scenario" --pty --link "$dir/com1" --log "$work/$name.log" \
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

# --- 2. Unpacked and run by an operator
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
DPKG_ROOT=$root sh "$work/control/postinst" configure
dir=$root/opt/lumoscan/lumoscan13
[ "$(stat -c '%G %a' "$dir")" = "dialout 2775" ] || fail "$dir: $(stat -c '%G %a' "$dir")"
[ "$(stat -c '%G %a' "$dir/lumo.mdb")" = "dialout 664" ] || fail "$dir/lumo.mdb: $(stat -c '%G %a' "$dir/lumo.mdb")"
start_line "$root/opt/lumoscan/bin/lumosim" "$dir" unpacked

# The operator clicks "修改", types an interval of 300, clicks "确定" and
# answers the question with Yes (the default button, Return). -ac lets a
# client of another user onto the display.
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
' _ "$dir/lumoscan13" "${as_operator[@]}" || fail "the unpacked lumoscan13 did not end cleanly"
[ "$(requests unpacked)" -ge 3 ] || fail "the unpacked lumoscan13 polled $(requests unpacked) times"
[ "$(stored_interval "$dir/lumo.mdb")" = 300 ] || fail "the operator's change was not stored"
echo "package test: unpacked lumoscan13 polled $(requests unpacked) times as $operator and stored the change"

# --- 3. Installed with dpkg
if dpkg-query -W -f='${Status}' lumoscan 2>/dev/null | grep -q 'install ok installed'; then
  echo "package test: lumoscan was installed before this test; installing for real is skipped"
  exit 0
fi
ours=1
dpkg -i "$deb" >/dev/null
installed=/opt/lumoscan/lumoscan13
[ "$(stat -c '%G %a' "$installed/lumo.mdb")" = "dialout 664" ] || fail "installed lumo.mdb: $(stat -c '%G %a' "$installed/lumo.mdb")"
start_line /opt/lumoscan/bin/lumosim "$installed" installed
"${as_operator[@]}" QT_QPA_PLATFORM=offscreen /usr/bin/lumoscan13 & app=$!
sleep 3
kill -TERM "$app"
wait "$app" || fail "/usr/bin/lumoscan13 did not end cleanly on SIGTERM"
[ "$(requests installed)" -ge 3 ] || fail "/usr/bin/lumoscan13 polled $(requests installed) times"

sqlite3 "$installed/lumo.mdb" "update lumoe set timer = '500'"
dpkg -i "$deb" >/dev/null
[ "$(stored_interval "$installed/lumo.mdb")" = 500 ] || fail "a reinstall overwrote the changed lumo.mdb"
dpkg -r lumoscan >/dev/null 2>&1
[ ! -e /usr/bin/lumoscan13 ] || fail "/usr/bin/lumoscan13 is left after dpkg -r"
[ "$(stored_interval "$installed/lumo.mdb")" = 500 ] || fail "dpkg -r took the settings file"
dpkg -P lumoscan >/dev/null 2>&1
[ ! -e /opt/lumoscan ] || fail "/opt/lumoscan is left after dpkg -P: $(find /opt/lumoscan)"
ours=
echo "package test: installed lumoscan13 polled $(requests installed) times; reinstall kept the settings, remove kept them, purge removed them"
