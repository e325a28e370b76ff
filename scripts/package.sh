#!/usr/bin/env bash
# Builds the Debian package out/lumoscan_<version>_amd64.deb with CPack
# (packaging/CMakeLists.txt), then checks it with lintian (no errors
# allowed) and the menu entries with desktop-file-validate.
#   bash scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The build tree the tests use; the package's layout needs the /usr prefix.
if [ -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
cmake --build build -j"$(nproc)" >/dev/null

mkdir -p out
rm -f out/lumoscan_*.deb
cpack --config build/CPackConfig.cmake -B out >/dev/null 2>&1 || { echo "package: cpack failed" >&2; exit 1; }
rm -rf out/_CPack_Packages
deb=$(ls out/lumoscan_*_amd64.deb)

desktop-file-validate packaging/lumoscan12.desktop packaging/lumoscan13.desktop
# Root is told that lintian would rather not run as root; that is all it says.
lintian --fail-on error --display-info "$deb" 2>&1 | grep -v '^running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "package: lintian found errors in $deb" >&2; exit 1; }
echo "$deb"
