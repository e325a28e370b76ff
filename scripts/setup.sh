#!/usr/bin/env bash
# Installs every Debian package that building, testing and running lumoscan
# needs. Idempotent; run as root. Skips apt-get entirely when all are there.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config
  qt6-base-dev qt6-serialport-dev
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  # publishing to the plant network: the MQTT client, and a broker and
  # clients for the tests and the demo
  libmosquitto-dev mosquitto mosquitto-clients
  # why a broker's certificate was refused (libmosquitto's OpenSSL), and the
  # tests' certificates
  libssl-dev openssl
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # tests: pseudo-terminals, a display, screenshots, accessibility, peers
  socat xvfb xauth x11-apps imagemagick dbus at-spi2-core python3 python3-pyatspi
  python3-pymodbus python3-serial python3-serial-asyncio libmodbus-dev mbpoll xdotool
  # Qt's own Simplified Chinese texts of the standard buttons (确定, 是, 否)
  qt6-translations-l10n
  # the Debian package: shlibdeps (dpkg-dev, file), its checks
  dpkg-dev file lintian desktop-file-utils
  # Windows: MinGW-w64 and Wine (scripts/windows.sh; the kit adds its own)
  g++-mingw-w64-x86-64-posix wine64 googletest
  # its setup file
  nsis
  # locale data (localedef) for the decimal-comma test
  locales
  # Simplified Chinese glyphs; without a CJK font Qt draws empty boxes
  fonts-noto-cjk
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# A locale that writes decimal commas, for the test that numbers on screen
# do not follow the user's locale.
german_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && [ "$(id -u)" -eq 0 ] && command -v localedef >/dev/null; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  german_locale
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
german_locale
