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

kit=$(bash scripts/windows-build.sh | tail -n 1)
build=build-windows-kit

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

# A broker for the publishing tests: plain, and over TLS with a certificate
# for localhost and 127.0.0.1, one for another name, one out of date
# (tests/e2e/test-certificates.sh).
broker_dir=$(mktemp -d)
chmod 755 "$broker_dir"
bash tests/e2e/test-certificates.sh "$broker_dir"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
broker_port=$(free_port)
tls_ports=()
{
  printf 'persistence false\nallow_anonymous true\nlistener %s 127.0.0.1\n' "$broker_port"
  for certificate in localhost otherhost expired; do
    port=$(free_port)
    tls_ports+=("$port")
    printf 'listener %s 127.0.0.1\ncafile %s/ca.pem\ncertfile %s/%s.pem\nkeyfile %s/%s.key\n' \
      "$port" "$broker_dir" "$broker_dir" "$certificate" "$broker_dir" "$certificate"
  done
} > "$broker_dir/mosquitto.conf"
mosquitto -c "$broker_dir/mosquitto.conf" >"$broker_dir/log" 2>&1 & broker=$!
lumo_at_exit 'kill "$broker" 2>/dev/null; wait "$broker" 2>/dev/null; rm -rf "$broker_dir"' 
export LUMO_TEST_BROKER_PORT=$broker_port
export LUMO_TEST_TLS_PORTS=$(IFS=,; echo "${tls_ports[*]}") LUMO_TEST_CERTIFICATES=$broker_dir
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/${tls_ports[2]}") 2>/dev/null && break
  sleep 0.1
done

unit=$(wine_ctest "$build" windows) || exit 1
echo "$unit"

# e2e_run <name> <gtest filter> [VARIABLE=value...]: the end-to-end harness,
# its output kept in $build/<name>.txt and shown when it fails.
e2e_run() {
  local name=$1 filter=$2 output=$build/$1.txt
  shift 2
  if ! env "$@" LUMO_WINE_COM1="$com1" LUMO_UIPROBE_PATH="$top/$build/uiprobe" \
       timeout 300 build/tests/e2e/windows_e2e_tests --gtest_filter="$filter" > "$output" 2>&1; then
    cat "$output" >&2
    echo "windows: $name failed under Wine; the whole output is $output" >&2
    exit 1
  fi
  grep -a '^\[ windows  \]' "$output" || true
}

# The installed programs, end to end.
mkdir -p out/windows
e2e_run e2e 'WindowsPrograms.*' LUMO_WINDOWS_STAGE="$top/$build/stage" LUMO_SHOTS="$top/out/windows" \
  LUMO_SETDCB="$top/$build/tests/setdcb.exe"
runs=$(grep -a -c '^\[       OK \]' "$build/e2e.txt" || true)
if [ "$runs" -eq 0 ]; then
  cat "$build/e2e.txt" >&2
  echo "windows: no end-to-end run of the programs passed; the whole output is $build/e2e.txt" >&2
  exit 1
fi

# The setup file: installed silently, used, reinstalled, removed, in a Wine
# prefix that has nothing else.
setup=$(bash scripts/windows-package.sh | tail -n 1)
former_setup=$(bash tests/package/former-layout.sh setup "$top/$build/stage" | tail -n 1)
wine_session_end
rm -rf "$build/wine-setup"
wine_session_start "$top/$build/wine-setup" "$com1"
unset WINEPATH
e2e_run setup 'WindowsSetup.*' LUMO_SETUP="$setup" LUMO_FORMER_SETUP="$former_setup"
echo "windows: ${unit#windows: }; $runs end-to-end runs of the programs; $(basename "$setup") ($(( $(stat -c %s "$setup") / 1024 )) KiB) installed, used and removed; pictures in out/windows"
