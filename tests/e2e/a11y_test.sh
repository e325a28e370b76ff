#!/usr/bin/env bash
# lumoscan13 in a real window under Xvfb, read from outside through the
# accessibility bus as a screen reader would: the cells of instrument 1 must
# carry the worked example's texts under their instrument and column names,
# and the value fields and the status line their texts under their captions.
# a11y_test.sh <lumoscan13> <mklumodb> <lumosim> <read_grid.py>
set -euo pipefail
program=$1 mklumodb=$2 lumosim=$3 reader=$4

dir=$(mktemp -d)
cleanup() {
  kill "${sim_pid:-}" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

cp "$program" "$dir/lumoscan13"
"$mklumodb" "$dir/lumo.mdb" 1 100 1 9600
cat > "$dir/scenario.txt" <<'SCENARIO'
protocol modbus
instrument 1 flow=12.5 velocity=1.25 percent=50 resistance=3.3 forward=1234.5678 reverse=0 diameter=100 alarms=empty
SCENARIO
"$lumosim" --scenario "$dir/scenario.txt" --pty --link "$dir/com1" > "$dir/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$dir/com1" ] && break; sleep 0.1; done

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM
out=$(dbus-run-session -- xvfb-run -a bash -c '
  "$1" & app=$!
  sleep 2
  /usr/bin/python3 "$2" lumoscan13 15
  kill "$app"; wait "$app" 2>/dev/null || true
' _ "$dir/lumoscan13" "$reader" 2>/dev/null)

status=0
for expected in $'1 瞬时流量\t12.5' $'1 流速\t1.25' $'1 百分比\t50' $'1 电阻值\t3.3' \
                $'1 正向累积\t1234.5678' $'1 反向累积\t0' $'1 流量计管径\t100' $'1 报警状态\t通讯正常,空管报警' \
                $'2 瞬时流量\t' $'当前仪表数\t1' $'当前发送间隔\t100' $'当前com端口\t1' $'通讯速率\t9600' \
                $'状态\t'; do
  if ! grep -qxF "$expected" <<<"$out"; then
    echo "missing: $expected"
    status=1
  fi
done
cells=$(grep -c . <<<"$out" || true)
echo "read $cells cells from outside"
[ "$cells" -ge 13 ] || status=1
exit $status
