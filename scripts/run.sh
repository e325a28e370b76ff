#!/usr/bin/env bash
# Installs and builds what is missing, then runs lumoscan13 from the build
# tree. With no display it runs under Xvfb for a few seconds and writes a
# screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target lumoscan13 >/dev/null

program=build/apps/lumoscan13/lumoscan13
if [ -n "${DISPLAY:-}" ]; then
  exec "$program"
fi

mkdir -p out
shot="$PWD/out/lumoscan13.png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" & pid=$!
  sleep 4
  import -window root "$2"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
' _ "$program" "$shot"
echo "$shot"
