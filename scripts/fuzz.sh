#!/usr/bin/env bash
# Builds the fuzz targets with clang/libFuzzer into build-fuzz/ and runs each
# for the given number of seconds (default 60) over a copy of its seed corpus.
# Any finding fails the run; the input that caused it is kept in
# build-fuzz/findings/<target>/ and printed as hex.
#   bash scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
targets=(block_receive_fuzz modbus_receive_fuzz numbertext_fuzz leadingnumber_fuzz settingsload_fuzz recorder_fuzz historytext_fuzz)

cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
summary=()
for target in "${targets[@]}"; do
  work="build-fuzz/work/$target"
  findings="build-fuzz/findings/$target"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp -r "fuzz/corpus/$target/." "$work/"
  log="build-fuzz/$target.log"
  echo "fuzz: $target for ${seconds}s"
  status=0
  "build-fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=4096 \
    -artifact_prefix="$findings/" "$work" >"$log" 2>&1 || status=$?
  runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' || true)
  summary+=("$target: ${runs:-?} executions")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "fuzz: $target FAILED (exit $status); last lines of $log:" >&2
    grep -E 'invariant broken|ERROR:|runtime error|SUMMARY' "$log" | head -n 10 >&2 || true
    tail -n 25 "$log" >&2
    for input in "$findings"/*; do
      [ -f "$input" ] || continue
      echo "fuzz: finding kept in $input:" >&2
      od -A x -t x1z -v "$input" | head -n 40 >&2
    done
  fi
done

printf 'fuzz: %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no findings"
