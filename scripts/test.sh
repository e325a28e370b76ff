#!/usr/bin/env bash
# Set-up, build and every test, from a fresh clone, in stages: the suite as
# built, the Debian package, Windows (both programs built against the kit of
# scripts/windows-sdk.sh, which the first run builds, and tested under
# Wine), the same suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of every fuzz target. Ends with one line per stage; a
# stage that fails ends the run and the last line names it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
logs=out/test-logs
mkdir -p "$logs"
summary=()

# stage <name> <function>: runs it with its output shown and kept in
# $logs/<name>.log; the function's last line "= <what passed>" goes into the
# summary.
stage() {
  local name=$1 function=$2 started=$SECONDS status
  echo "== $name"
  set +e
  (set -e; "$function") 2>&1 | tee "$logs/$name.log"
  status=${PIPESTATUS[0]}
  set -e
  local took=$((SECONDS - started))
  local what
  what=$(grep -a '^= ' "$logs/$name.log" | tail -n 1 | cut -c 3-)
  if [ "$status" -ne 0 ]; then
    summary+=("$(printf '%-10s FAILED after %d s (exit %d); its output: %s' "$name" "$took" "$status" "$logs/$name.log")")
    print_summary
    echo "test.sh: FAILED in stage $name"
    exit 1
  fi
  summary+=("$(printf '%-10s %s, %d min %02d s' "$name" "$what" $((took / 60)) $((took % 60)))")
}

print_summary() {
  echo "== summary"
  printf '%s\n' "${summary[@]}"
}

# "100% tests passed, 0 tests failed out of 380" -> "380 of 380 tests passed"
ctest_counts() {
  local line
  line=$(grep -a -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  local failed total
  failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  echo "= $((total - failed)) of $total tests passed"
}

suite() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j"$(nproc)"
  ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 300 | tee "$logs/suite.ctest"
  ctest_counts "$logs/suite.ctest"
}

# The Debian package: built and checked by lintian, installed with dpkg,
# used and attacked by an operator of group dialout, upgraded from the
# former layout (built from its commit) and purged again.
package() {
  bash scripts/package.sh
  local former
  former=$(bash tests/package/former-layout.sh deb | tail -n 1)
  bash tests/package/package_test.sh out/lumoscan_*_amd64.deb "$former" | tee "$logs/package.checks"
  echo "= lintian clean, $(grep -c '^package test:' "$logs/package.checks") checks passed"
}

# Both programs and their tests built for Windows and run under Wine, the
# programs end to end against lumosim through Wine's COM1.
windows() {
  bash scripts/windows.sh | tee "$logs/windows.result"
  echo "= $(tail -n 1 "$logs/windows.result" | sed 's/^windows: //; s/; pictures in out\/windows//')"
}

# The whole suite under ASan + UBSan, leak checking included. Any report
# fails its test: UBSan stops at the first finding, ASan exits non-zero.
sanitizers() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON
  cmake --build build-asan -j"$(nproc)"
  ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 600 | tee "$logs/sanitizers.ctest"
  ctest_counts "$logs/sanitizers.ctest"
}

# A few seconds of each fuzz target over its seed corpus.
fuzz() {
  bash scripts/fuzz.sh 8 | tee "$logs/fuzz.result"
  echo "= $(grep -c -E '^fuzz: [a-z_]+: [0-9?]+ executions' "$logs/fuzz.result") targets, no findings"
}

stage suite suite
stage package package
stage windows windows
stage sanitizers sanitizers
stage fuzz fuzz
print_summary
echo "test.sh: all stages passed"
