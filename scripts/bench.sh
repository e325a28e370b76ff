#!/usr/bin/env bash
# Benchmarks (not part of the test pass): builds with -DLUMO_BENCH=ON, then
# runs each and prints its figures; everything also goes to out/bench.txt.
#   bash scripts/bench.sh [quick]
# "quick" shortens every run (figures are then only indicative).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMO_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target lumoscan12 lumoscan13 lumosim mklumodb lumohistory decoders_bench screen_bench \
  history_bench >/dev/null

# Lengths of the runs; override from the environment, e.g. TICKS_1000=60.
sweep_s=${SWEEP_S:-20} ticks_200=${TICKS_200:-300} ticks_1000=${TICKS_1000:-300}
cost_s=${COST_S:-60} screen_s=${SCREEN_S:-30} history_years=${HISTORY_YEARS:-10} history_s=${HISTORY_S:-60}
if [ "${1:-}" = quick ]; then sweep_s=8 ticks_200=40 ticks_1000=10 cost_s=12 screen_s=8 history_years=1 history_s=15; fi

mkdir -p out
{
  echo "== machine"
  echo "nproc: $(nproc)"
  lscpu | head -n 14
  free -m | head -n 2
  echo "== decoders (Google Benchmark)"
  build/bench/decoders_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
  echo "== Modbus sweep against the wire, beside mbpoll"
  python3 bench/bench.py sweep build --seconds "$sweep_s"
  echo "== tick regularity of lumoscan12"
  python3 bench/bench.py ticks build --interval 200 --ticks "$ticks_200" --reference
  python3 bench/bench.py ticks build --interval 1000 --ticks "$ticks_1000" --reference
  echo "== answer to screen (in-process station)"
  build/bench/screen_bench "$screen_s" modbus
  build/bench/screen_bench "$screen_s" block
  echo "== cost of lumoscan13, 39 instruments at 9600 baud"
  python3 bench/bench.py cost build --seconds "$cost_s" --platform offscreen
  xvfb-run -a python3 bench/bench.py cost build --seconds "$cost_s" --platform xcb
  echo "== start-up to the first request"
  python3 bench/bench.py startup build --runs 10
  echo "== history: the recorder off and on"
  python3 bench/bench.py history build --seconds "$history_s" --rounds 2
  echo "== history: $history_years years of 39 instruments (the file is made first, kept in build/bench-history)"
  rm -rf build/bench-history
  QT_QPA_PLATFORM=offscreen build/bench/history_bench build/bench-history "$history_years"
} 2>&1 | tee out/bench.txt
