#!/usr/bin/env bash
# Builds lumoscan for Windows: the kit (scripts/windows-sdk.sh) when it is
# not in place, both programs, mklumodb and the tests cross-built with
# MinGW-w64 in build-windows-kit/, and the installed layout in
# build-windows-kit/stage/. Also the build machine's side that the Windows
# tests and the setup file need: mklumodb, lumosim, the end-to-end harness.
# Prints the kit's directory on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

. scripts/wine-session.sh
bash scripts/setup.sh >/dev/null
kit=$(bash scripts/windows-sdk.sh | tail -n 1)
build=build-windows-kit
logs=$build/logs
lumo_quietly "$logs/host-configure.log" cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
lumo_quietly "$logs/host-build.log" cmake --build build -j"$(nproc)" --target mklumodb lumosim windows_e2e_tests

lumo_quietly "$logs/configure.log" cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DLUMO_WINDOWS_KIT="$kit" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DLUMO_HOST_MKLUMODB="$top/build/tools/mklumodb/mklumodb"
lumo_quietly "$logs/build.log" cmake --build "$build" -j"$(nproc)"
rm -rf "$build/stage"
lumo_quietly "$logs/install.log" cmake --install "$build" --prefix "$build/stage"
echo "$kit"
