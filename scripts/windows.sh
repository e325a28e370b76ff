#!/usr/bin/env bash
# lumoscan on Windows: both programs, mklumodb and their tests cross-built
# with MinGW-w64 against the Windows kit (scripts/windows-sdk.sh), the tests
# run under Wine (the core's, the settings store's, the windows', and a
# station's start-up message, commands and publishing against a mosquitto
# on localhost), then the installed programs end to end under Wine and Xvfb
# against lumosim through Wine's COM1. One Wine session for all of it.
#   bash scripts/windows.sh            (after the Linux build in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
# Every Wine process of the step draws on one virtual display.
if [ -z "${LUMO_WINDOWS_DISPLAY:-}" ]; then
  LUMO_WINDOWS_DISPLAY=1 exec xvfb-run -a -s '-screen 0 1280x1024x24' bash "$0" "$@"
fi

bash scripts/setup.sh >/dev/null
kit=$(bash scripts/windows-sdk.sh | tail -n 1)
# The build machine's side: the settings file maker, the simulator and the
# end-to-end harness.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target mklumodb lumosim windows_e2e_tests >/dev/null

build=build-windows-kit
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLUMO_WINDOWS_KIT="$kit" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DLUMO_HOST_MKLUMODB="$top/build/tools/mklumodb/mklumodb" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -rf "$build/stage"
cmake --install "$build" --prefix "$build/stage" >/dev/null

# Wine's COM1 leads to a path of ours that each end-to-end test links to its
# simulator's pseudo-terminal.
com1=$top/$build/com1
. scripts/wine-session.sh
wine_session_start "$top/$build/wine" "$com1"
# The kit's DLLs and the MinGW runtime, for the tests in the build tree.
path="Z:$kit/bin"
for dll in libstdc++-6.dll libwinpthread-1.dll; do
  path="$path;Z:$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")"
done
export WINEPATH=$path

# A broker for the publishing test.
broker_dir=$(mktemp -d)
broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" > "$broker_dir/mosquitto.conf"
mosquitto -c "$broker_dir/mosquitto.conf" >"$broker_dir/log" 2>&1 & broker=$!
end_broker() { kill "$broker" 2>/dev/null || true; rm -rf "$broker_dir"; wine_session_end; }
trap end_broker EXIT
export LUMO_TEST_BROKER_PORT=$broker_port

unit=$(wine_ctest "$build" windows) || exit 1
echo "$unit"

# The installed programs, end to end.
mkdir -p out/windows
e2e=$build/e2e.txt
if ! LUMO_WINDOWS_STAGE=$top/$build/stage LUMO_WINE_COM1=$com1 LUMO_UIPROBE_PATH=$top/$build/uiprobe \
     LUMO_SHOTS=$top/out/windows timeout 300 build/tests/e2e/windows_e2e_tests > "$e2e" 2>&1; then
  cat "$e2e" >&2
  echo "windows: the programs failed end to end under Wine; the whole output is $e2e" >&2
  exit 1
fi
grep -a '^\[ windows  \]' "$e2e"
echo "windows: ${unit#windows: }; $(grep -a -c '^\[       OK \]' "$e2e") end-to-end runs of the programs; pictures in out/windows"
