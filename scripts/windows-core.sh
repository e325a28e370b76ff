#!/usr/bin/env bash
# The portable core on Windows: shell/, grid/, blockproto/, modbus/ and their
# unit tests cross-compiled with MinGW-w64 and run under Wine, plus the
# Windows side of the single-copy guard's directory, checked against the
# Win32 headers and run. One Wine process per test executable, all of them
# in one Wine session.
#   bash scripts/windows-core.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
. scripts/wine-session.sh
mkdir -p build-windows
wine_session_start "$PWD/build-windows/wine"
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DLUMO_CORE_ONLY=ON \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-windows -j"$(nproc)" >/dev/null
log=build-windows/ctest.txt
if ! ctest --test-dir build-windows -V -j"$(nproc)" > "$log" 2>&1; then
  grep -a -E 'wine-test:|\[  FAILED  \]|Failed|Timeout|tests passed' "$log" >&2 || cat "$log" >&2
  echo "windows-core: tests failed under Wine; the whole output is $log" >&2
  exit 1
fi
# GoogleTest ends each executable's output with "[  PASSED  ] N tests."
# and, when some were skipped, "[  SKIPPED ] N tests, listed below:".
count() { grep -a -E "^[0-9]+: \\[  $1 *\\] [0-9]+ tests?[.,]" "$log" | awk '{s += $5} END {print s + 0}'; }
executables=$(grep -a -c -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$log")
echo "windows-core: $executables test executables, $(count PASSED) cases passed, $(count SKIPPED) skipped, under Wine"
