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
# What the uninstaller removes: each file the setup installs, by name, then
# the directories it made, deepest first, each only if left empty.
stage=$PWD/build-windows-kit/stage
files=$PWD/build-windows-kit/files.nsh
{
  (cd "$stage" && find . -type f ! -name lumo.mdb | sed 's|^\./||' | sort) | while read -r file; do
    printf 'Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
  done
  (cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||' | awk '{ print gsub("/", "/"), $0 }' | sort -rn | cut -d' ' -f2-) |
    while read -r directory; do
      printf 'RMDir "$INSTDIR\\%s"\n' "${directory//\//\\}"
    done
} > "$files"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" -DFILES="$files" \
  -DREADME="$PWD/packaging/windows/README.txt" -DICON="$PWD/platform/icons/lumoscan.ico" \
  packaging/windows/lumoscan.nsi >&2
echo "windows-package: $(basename "$setup"), $(( $(stat -c %s "$setup") / 1024 )) KiB" >&2
echo "$setup"
