#!/usr/bin/env bash
# The installers of the layout before the data directory (1.3.0: lumo.mdb
# beside each program, in a directory that group dialout on Linux, and the
# local Users on Windows, could modify), for the upgrade tests. Kept in
# out/former-layout/ and made again only when missing.
#   former-layout.sh deb           the Debian package, built from that commit's own sources
#   former-layout.sh setup <stage> the Windows setup file: that commit's NSIS script over
#                                  today's Windows build (the layout is the script's)
# Each prints the file's path.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The last commit of that layout.
commit=6eb29040aff659a0dbcabfc4db0fc160ee585bc5
out=$PWD/out/former-layout
mkdir -p "$out"
git cat-file -e "$commit^{commit}" 2>/dev/null ||
  { echo "former-layout: commit $commit is not in this clone (a shallow clone?)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb() {
  local deb=$out/lumoscan_1.3.0_amd64.deb
  if [ ! -f "$deb" ]; then
    git archive "$commit" | tar -x -C "$work"
    # Only what the package holds: the install step need not build the tests.
    cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$work/configure.log" 2>&1 ||
      { cat "$work/configure.log" >&2; exit 1; }
    cmake --build "$work/build" -j"$(nproc)" --target lumoscan12 lumoscan13 lumosim mklumodb lumoprobe \
      lumo_package_settings lumo_package_docs >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
    (cd "$work/build" && cpack -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
    mv "$work/package/lumoscan_1.3.0_amd64.deb" "$deb"
  fi
  echo "$deb"
}

setup() {
  local stage=$1 setup=$out/lumoscan-1.3.0-setup.exe
  if [ ! -f "$setup" ]; then
    git show "$commit:packaging/windows/lumoscan.nsi" > "$work/lumoscan.nsi"
    makensis -V2 -INPUTCHARSET UTF8 -DVERSION=1.3.0 -DSTAGE="$stage" -DOUTFILE="$setup" \
      -DREADME="$PWD/packaging/windows/README.txt" -DICON="$PWD/platform/os/icons/lumoscan.ico" "$work/lumoscan.nsi" >&2
  fi
  echo "$setup"
}

case "${1:-}" in
  deb) deb ;;
  setup) setup "$2" ;;
  *) echo "usage: former-layout.sh deb | setup <stage>" >&2; exit 2 ;;
esac
