#!/usr/bin/env bash
# The Windows kit: what lumoscan12.exe, lumoscan13.exe and their tests link,
# cross-built with Debian's MinGW-w64 from Debian's own source packages, once
# per machine. Qt 6 (Core, Gui, Widgets, Network, Test; the windows and
# offscreen platform plugins), SQLite, and libmosquitto with TLS on OpenSSL.
#
#   bash scripts/windows-sdk.sh        # prints the kit's directory on its last line
#
# The kit lives outside the clone, in $LUMO_KIT_CACHE (default
# /var/cache/lumoscan), in a directory named by the versions of its sources
# (scripts/windows-kit.versions, the one place they are set) and of this
# recipe, so later clones, CI and the demo reuse it; a call with the kit in
# place fetches and builds nothing. Built fresh it takes about 25 min at -j2
# (Qt is most of it) and needs about 5 GB while building.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${LUMO_KIT_CACHE:-/var/cache/lumoscan}
# Raise when a library's configuration below changes: the kit is rebuilt.
recipe=2
jobs=$(nproc)

say() { echo "windows-sdk: $*" >&2; }
fail() { say "$*"; exit 1; }

# The versions, from the one place they are set.
declare -A version
while read -r package pinned; do
  case $package in '' | '#'*) continue ;; esac
  version[$package]=$pinned
done < "$here/scripts/windows-kit.versions"
for package in qt6-base sqlite3 openssl mosquitto; do
  [ -n "${version[$package]:-}" ] || fail "scripts/windows-kit.versions names no version of $package"
done
qt_version=${version[qt6-base]}
sqlite_version=${version[sqlite3]}
openssl_version=${version[openssl]}
mosquitto_version=${version[mosquitto]}

name="qt6-base_${qt_version}-sqlite3_${sqlite_version}-openssl_${openssl_version}-mosquitto_${mosquitto_version}-r${recipe}"
kit=$cache/windows-kit/${name//\~/_}
if [ -f "$kit/KIT" ]; then
  say "in place: $kit"
  echo "$kit"
  exit 0
fi

needed=(g++-mingw-w64-x86-64-posix cmake ninja-build make perl tcl dpkg-dev xz-utils qt6-base-dev qt6-base-dev-tools
        qt6-translations-l10n)
missing=()
for p in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || fail "installing ${missing[*]} needs root"
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

# Source packages need a deb-src entry beside the binary one: the same
# archives, suites and keys.
src_list=/etc/apt/sources.list.d/lumoscan-deb-src.sources
if ! apt-cache showsrc --only-source sqlite3 2>/dev/null | grep -q '^Version:'; then
  [ "$(id -u)" -eq 0 ] || fail "adding $src_list needs root"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src_list"
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "${src_list%.sources}.list"
  fi
  say "added the archive's sources ($src_list)"
  apt-get update -q >&2
fi

# Exactly the versions named; one the archive no longer serves is refused
# with what it serves instead.
sources=$cache/sources
mkdir -p "$sources"
chmod 755 "$cache" "$sources"
fetch() {
  local package=$1 wanted=$2
  (cd "$sources" && apt-get source --download-only "$package=$wanted" >/dev/null 2>&1) && return 0
  local served
  served=$(apt-cache showsrc --only-source "$package" | sed -n 's/^Version: //p' | sort -rV | tr '\n' ' ')
  fail "the archive does not serve $package $wanted (it serves: ${served:-nothing}); move its version in scripts/windows-kit.versions"
}
fetch qt6-base "$qt_version"
fetch sqlite3 "$sqlite_version"
fetch openssl "$openssl_version"
fetch mosquitto "$mosquitto_version"

say "building $kit (about 25 min at -j$jobs)"
work=$cache/work
rm -rf "$work" "$kit.partial"
mkdir -p "$work" "$kit.partial"
stage=$kit.partial
log=$work/build.log
toolchain=$here/cmake/mingw-w64.cmake
cross=x86_64-w64-mingw32
started=$(date +%s)

# Each source with Debian's patches applied, as Debian builds it.
unpack() {
  local package=$1 version=$2 into=$3
  dpkg-source --no-check -x "$sources/${package}_${version#*:}.dsc" "$into" >>"$log" 2>&1 ||
    fail "unpacking $package $version failed; see $log"
}
step() {
  local what=$1; shift
  local t0; t0=$(date +%s)
  say "$what"
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    fail "$what failed; the whole log is $log"
  fi
  say "$what: $(( $(date +%s) - t0 )) s"
}

# SQLite: the amalgamation is generated from the canonical sources with
# the build machine's compiler and tclsh, then compiled for Windows as a
# static library with the options Debian's own library is built with that
# matter here (threadsafe, foreign keys, no extension loading is needed).
build_sqlite() {
  unpack sqlite3 "$sqlite_version" "$work/sqlite"
  (cd "$work/sqlite" && ./configure --disable-tcl >/dev/null && make -j"$jobs" sqlite3.c sqlite3.h)
  local obj=$work/sqlite/sqlite3-win.o
  $cross-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_DEFAULT_FOREIGN_KEYS=1 -DSQLITE_OMIT_LOAD_EXTENSION \
    -c "$work/sqlite/sqlite3.c" -o "$obj"
  mkdir -p "$stage/include" "$stage/lib"
  $cross-ar rcs "$stage/lib/libsqlite3.a" "$obj"
  cp "$work/sqlite/sqlite3.h" "$work/sqlite/sqlite3ext.h" "$stage/include/"
}

# OpenSSL for libmosquitto's TLS, as DLLs that the programs share with it
# (they ask it why a broker's certificate was refused): libraries and
# headers, no programs, tests, documentation or loadable modules.
build_openssl() {
  unpack openssl "$openssl_version" "$work/openssl"
  (cd "$work/openssl" &&
    ./Configure mingw64 shared no-module no-legacy no-tests no-dso \
      --prefix="$stage" --libdir=lib \
      CC=$cross-gcc-posix AR=$cross-ar RANLIB=$cross-ranlib RC=$cross-windres &&
    make -j"$jobs" build_libs && make install_dev install_runtime_libs)
}

# libmosquitto (the client library only) with TLS, as libmosquitto.dll on
# OpenSSL's DLLs; no threads (the station drives it from its event loop).
build_mosquitto() {
  unpack mosquitto "$mosquitto_version" "$work/mosquitto"
  cmake -G Ninja -S "$work/mosquitto" -B "$work/mosquitto-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DLUMO_WINDOWS_KIT="$stage" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
    -DWITH_TLS=ON -DWITH_TLS_PSK=ON -DWITH_EC=ON -DOPENSSL_ROOT_DIR="$stage" \
    -DWITH_THREADING=OFF -DWITH_SRV=OFF -DWITH_SOCKS=ON -DWITH_CJSON=OFF -DWITH_LIB_CPP=OFF \
    -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF
  cmake --build "$work/mosquitto-build" -j"$jobs"
  cmake --install "$work/mosquitto-build"
  # Its install rules leave out the import library that programs link with.
  cp "$work/mosquitto-build/lib/libmosquitto.dll.a" "$stage/lib/"
}

# Qt: the modules the programs and their tests use, the windows and
# offscreen platform plugins, TLS through Windows itself (Schannel). The
# host tools (moc, rcc, uic) are Debian's of the same version. Kept on:
# OpenGL, Qt's default for Windows, which the windows plugin of 6.4 does
# not build without. Off: tablet events (the plugin would include
# wintab.h, which Debian's source leaves out) and all that nothing here
# uses.
build_qt() {
  unpack qt6-base "$qt_version" "$work/qtbase"
  local off=(sql dbus printsupport concurrent xml openssl vulkan icu zstd tabletevent
             jpeg gif system_zlib system_pcre2 system_harfbuzz system_freetype system_png
             system_jpeg system_doubleconversion)
  local flags=()
  for feature in "${off[@]}"; do flags+=("-DFEATURE_$feature=OFF"); done
  cmake -G Ninja -S "$work/qtbase" -B "$work/qtbase-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF "${flags[@]}"
  cmake --build "$work/qtbase-build" -j"$jobs"
  cmake --install "$work/qtbase-build"
  # Qt's own Simplified Chinese texts (确定, 是(Y), 否(N)): the same
  # translation file as Debian's Qt of this version, where Qt looks for it.
  mkdir -p "$stage/translations"
  cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$stage/translations/"
}

step "SQLite $sqlite_version" build_sqlite
step "OpenSSL $openssl_version" build_openssl
step "libmosquitto $mosquitto_version" build_mosquitto
step "Qt $qt_version" build_qt

cat > "$stage/KIT" <<TXT
lumoscan's Windows kit, built by scripts/windows-sdk.sh (recipe $recipe) on $(date -u +%F)
in $(( $(date +%s) - started )) s with $($cross-g++-posix --version | head -n 1)
qt6-base $qt_version
sqlite3 $sqlite_version
openssl $openssl_version
mosquitto $mosquitto_version
TXT
rm -rf "$kit"
mv "$stage" "$kit"
rm -rf "$work"
say "built in $(( $(date +%s) - started )) s, $(du -sh "$kit" | cut -f1): $kit"
echo "$kit"
