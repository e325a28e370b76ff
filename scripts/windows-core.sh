#!/usr/bin/env bash
# The portable core on Windows: shell/, grid/, blockproto/, modbus/ and their
# unit tests cross-compiled with MinGW-w64 and run under Wine, plus the
# Windows side of the single-copy guard's directory, checked against the
# Win32 headers and run. The Qt layer is not built here: the package
# archive has no Qt for MinGW.
#   bash scripts/windows-core.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$PWD/build-windows/wine}
mkdir -p build-windows
# Wine makes its prefix on the first run (about 9 s); make it now, not in
# the middle of a test.
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w || true
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DLUMO_CORE_ONLY=ON \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-windows -j"$(nproc)"
ctest --test-dir build-windows --output-on-failure -j"$(nproc)" --timeout 300 > build-windows/ctest.txt ||
  { cat build-windows/ctest.txt; echo "windows-core: tests failed under Wine" >&2; exit 1; }
echo "windows-core: $(grep -E '^[0-9]+% tests passed' build-windows/ctest.txt) under Wine"
