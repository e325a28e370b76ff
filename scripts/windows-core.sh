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
lumo_quietly build-windows/configure.log cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DLUMO_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=Release
lumo_quietly build-windows/build.log cmake --build build-windows -j"$(nproc)"
wine_ctest build-windows windows-core
