#!/usr/bin/env bash
# Set-up, build and every test, from a fresh clone: the suite as built, the
# Debian package, the portable core for Windows under Wine, the same suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short
# run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 300

# The Debian package: built and checked by lintian, unpacked and run by an
# operator of group dialout, installed with dpkg and purged again.
bash scripts/package.sh
bash tests/package/package_test.sh out/lumoscan_*_amd64.deb

# The plain C++ core and its tests built for Windows and run under Wine.
bash scripts/windows-core.sh

# The whole suite under ASan + UBSan, leak checking included. Any report
# fails its test: UBSan stops at the first finding, ASan exits non-zero.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 600

# A few seconds of each fuzz target over its seed corpus.
bash scripts/fuzz.sh 8
