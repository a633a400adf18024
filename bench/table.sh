#!/usr/bin/env bash
# The benchmark table, from real runs of the programs (build/bench/orvel-bench-table), with the machine it
# was measured on, and the torn-frame row from bench/poll-under-load.sh. Prints Markdown.
#
#   bench/table.sh [--polls N]     N: polls under load for the last row (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
polls=3
[ "${1:-}" = --polls ] && polls=$2
ensure_packages xvfb xdotool
cmake --build build -j"$(nproc)" --target orvel-bench-table orvel-trace-stats orvel-control orvel-unitsim >/dev/null

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), \
$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); load average at the start \
$(cut -d' ' -f1-3 /proc/loadavg); build: $(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' build/CMakeCache.txt)"
echo
build/bench/orvel-bench-table
if [ -x bench/poll-under-load.sh ]; then
  stats=$(bench/poll-under-load.sh --polls "$polls" 2>/dev/null)
  field() { echo "$stats" | sed -n "s/^$1 *//p"; }
  echo "| torn frames under load ($polls polls of 16 units, both cores overloaded) | $(field 'frames sent') frames sent, \
$(field 'frames with an inner gap > 1 ms') with an inner gap > 1 ms (largest $(field 'largest inner gap')), \
$(field 'frames the units dropped') dropped, $(field 'polls with a wrong indicator') wrong polls |"
else
  echo "| torn frames under load | see bench/poll-under-load.sh |"
fi
