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
# What lumoscan12 and the tools install: a file lumoscan13 has too, byte for
# byte (the Qt and OpenSSL DLLs, the runtime, the plugins), is one file on
# disk, a hard link to lumoscan13's copy; the rest are files of their own.
# The installed size counts each file on disk once.
copies=$PWD/build-windows-kit/copies.nsh
installed=$(find "$stage/lumoscan13" -type f ! -name lumo.mdb -printf '%s\n' | awk '{ s += $1 } END { print s }')
: > "$copies"
for directory in lumoscan12 tools; do
  while read -r file; do
    shared=lumoscan13/$file
    [ "$directory" = tools ] && shared=lumoscan13/$(basename "$file")
    folder=$(dirname "$directory/$file")
    if cmp -s "$stage/$directory/$file" "$stage/$shared"; then
      printf '!insertmacro SharedFile "%s" "%s" "%s"\n' "${shared//\//\\}" "${folder//\//\\}" \
        "${directory}\\${file//\//\\}" >> "$copies"
    else
      printf 'SetOutPath "$INSTDIR\\%s"\nFile "%s"\n' "${folder//\//\\}" "$stage/$directory/$file" >> "$copies"
      installed=$(( installed + $(stat -c %s "$stage/$directory/$file") ))
    fi
  done < <(cd "$stage/$directory" && find . -type f ! -name lumo.mdb | sed 's|^\./||' | sort)
done
installedKb=$(( installed / 1024 ))
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" -DFILES="$files" \
  -DCOPIES="$copies" -DINSTALLED_KB="$installedKb" \
  -DREADME="$PWD/packaging/windows/README.txt" -DICON="$PWD/platform/os/icons/lumoscan.ico" \
  packaging/windows/lumoscan.nsi >&2
echo "windows-package: $(basename "$setup"), $(( $(stat -c %s "$setup") / 1024 )) KiB; installs $installedKb KiB" >&2
echo "$setup"
