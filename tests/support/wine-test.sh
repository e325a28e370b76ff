#!/usr/bin/env bash
# Runs one cross-built GoogleTest executable under Wine, every case in one
# process, within a time limit. When the limit is hit the executable is
# killed and the case it was in is named.
#   wine-test.sh <seconds> <test.exe> [arguments...]
set -u
limit=$1
shift
output=$(mktemp)
trap 'rm -f "$output"' EXIT
timeout -k 10 "$limit" /usr/lib/wine/wine64 "$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  # GoogleTest writes "[ RUN      ] Suite.Case" as a case starts and
  # "[       OK ]", "[  FAILED  ]" or "[  SKIPPED ]" with its name as it ends.
  last=$(grep -a -E '^\[ (RUN      |      OK | FAILED  | SKIPPED )\] [A-Za-z_]' "$output" | tail -n 1 | tr -d '\r')
  case "$last" in
    "[ RUN      ] "*) where="in the case ${last:13}" ;;
    "") where="before the first case" ;;
    *) where="after the case ${last:13}, between cases" ;;
  esac
  echo "wine-test: $(basename "$1") did not end within $limit s: it was $where"
fi
exit "$status"
