#!/usr/bin/env bash
# The Windows setup file, out/lumoscan-<version>-setup.exe, made with NSIS
# from the Windows build's installed layout (scripts/windows-build.sh).
#   bash scripts/windows-package.sh     prints the setup file's path
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/windows-build.sh >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows-kit/CMakeCache.txt)
[ -n "$version" ] || { echo "windows-package: no project version in build-windows-kit/CMakeCache.txt" >&2; exit 1; }
mkdir -p out
setup=$PWD/out/lumoscan-$version-setup.exe
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$PWD/build-windows-kit/stage" -DOUTFILE="$setup" \
  -DREADME="$PWD/packaging/windows/README.txt" -DICON="$PWD/platform/icons/lumoscan.ico" \
  packaging/windows/lumoscan.nsi >&2
echo "windows-package: $(basename "$setup"), $(( $(stat -c %s "$setup") / 1024 )) KiB" >&2
echo "$setup"
