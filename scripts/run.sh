#!/usr/bin/env bash
# The demonstration: lumoscan13 (or lumoscan12 with that argument) polling 39
# simulated instruments on a pseudo-terminal. Installs and builds what is
# missing. With a display the windows open; without one the program runs
# under Xvfb for a few seconds and the three windows are saved as PNG files.
#   bash scripts/run.sh [lumoscan13|lumoscan12]
# Headless, DEMO_SECONDS (default 4) is how long it polls before the shots
# (form1.png, form2.png, form3.png, and form1-editor.png after a click on
# "修改"); lumoscan12 asks one block per tick, so its 39 instruments fill in
# about 63 s (DEMO_SECONDS=65).
# The programs are stopped with SIGTERM, which they take as "退出": the port
# is closed and its lock file removed. The station publishes to a mosquitto
# broker of the demo's own; headless, the first messages go to
# mqtt-messages.txt beside the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

program_name=${1:-lumoscan13}
case "$program_name" in
  lumoscan13) protocol=modbus ;;
  lumoscan12) protocol=block ;;
  *) echo "usage: bash scripts/run.sh [lumoscan13|lumoscan12]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$(nproc)" --target "$program_name" lumosim mklumodb >/dev/null

dir="$top/out/demo/$program_name"
rm -rf "$dir"
mkdir -p "$dir"
cp "build/apps/$program_name/$program_name" "$dir/"
# A broker of the demo's own on a free localhost port; the station publishes
# to it as lumoscan/demo/...
broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$broker_port" > "$dir/mosquitto.conf"
mosquitto -c "$dir/mosquitto.conf" > "$dir/mosquitto.log" 2>&1 &
broker_pid=$!
build/tools/mklumodb/mklumodb --publish "127.0.0.1:$broker_port" demo "$dir/lumo.mdb" 1 200 39 9600

# 39 instruments whose values move: sines and ramps; 7 never answers, 3 and
# 20 report alarms.
{
  echo "protocol $protocol"
  for a in $(seq 1 39); do
    case $a in
      7) echo "instrument 7 silent" ;;
      3) echo "instrument 3 flow=0.5~0.4/7 velocity=0.05 percent=2 resistance=9.1 forward=512.25+0.01/s diameter=50 alarms=empty,lower" ;;
      20) echo "instrument 20 flow=180~60/5 velocity=6.5 percent=99.5 resistance=2.2 forward=8800+12/s diameter=200 alarms=upper" ;;
      *) echo "instrument $a flow=$((a * 10))~$a/$((5 + a % 7)) velocity=$((a % 5)).$((a % 10))~0.2/9 percent=$((a * 2))~3/11 resistance=$((1 + a % 9)).5 forward=$((a * 1000)).5+$((a % 4 + 1)).25/s reverse=$((a % 3)).75 diameter=$(( (a % 4 + 1) * 50 )) alarms=none" ;;
    esac
  done
} > "$dir/scenario.txt"

build/tools/lumosim/lumosim --scenario "$dir/scenario.txt" --pty --link "$dir/com1" \
  --log "$dir/lumosim.log" --baud 9600 --turnaround-ms 2 > "$dir/lumosim.out" &
sim_pid=$!
app_pid=
stop() {
  # The program first, and wait for it: it lets go of the line in order.
  if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  kill -TERM "$sim_pid" 2>/dev/null || true
  [ -n "${sub_pid:-}" ] && kill -TERM "$sub_pid" 2>/dev/null || true
  kill -TERM "$broker_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM
for _ in $(seq 100); do [ -e "$dir/com1" ] && break; sleep 0.05; done
[ -e "$dir/com1" ] || { echo "run: lumosim did not start" >&2; cat "$dir/lumosim.out" >&2; exit 1; }

echo "run: the station publishes to a local broker; to watch it:"
echo "  mosquitto_sub -h 127.0.0.1 -p $broker_port -v -t 'lumoscan/#'"
# The first messages, kept beside the pictures.
mosquitto_sub -h 127.0.0.1 -p "$broker_port" -v -t 'lumoscan/#' -C 200 > "$dir/mqtt-messages.txt" 2>/dev/null &
sub_pid=$!

if [ -n "${DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  "$dir/$program_name" & app_pid=$!
  wait "$app_pid" || true
  app_pid=
  exit 0
fi

# Headless: under Xvfb there is no window manager, every window opens at 0,0;
# placewindows.py lays them side by side so each can be captured whole.
unset QT_QPA_PLATFORM
shots=$(xvfb-run -a -s "-screen 0 2560x1024x24" bash -c '
  program=$1 dir=$2 placer=$3 seconds=$4
  "$program" & app=$!
  sleep "$seconds"
  n=0 form1=
  while read -r wid x y w h title; do
    n=$((n + 1))
    case $n in 1) name=form1 form1=$wid ;; 2) name=form3 ;; *) name=form2 ;; esac
    sleep 0.5
    import -window "$wid" "$dir/$name.png"
    echo "$dir/$name.png"
  done < <(python3 "$placer" LUMO)
  # The settings editor as the operator opens it: a click on "修改"
  # (10080, 7080, 1215, 495 twips: its middle is at 712, 488 pixels).
  if [ -n "$form1" ] && xdotool mousemove --window "$form1" 712 488 click 1; then
    sleep 0.5
    import -window "$form1" "$dir/form1-editor.png"
    echo "$dir/form1-editor.png"
  fi
  kill -TERM "$app" 2>/dev/null; wait "$app" 2>/dev/null || true
' _ "$dir/$program_name" "$dir" "$top/bench/placewindows.py" "${DEMO_SECONDS:-4}")
sort <<<"$shots"
echo "$dir/mqtt-messages.txt"
