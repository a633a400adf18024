#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in build-fuzz/ and runs each of them, one after the
# other, from its seed corpus in fuzz/corpus/<target>. Stops at the first finding: the input that broke
# an invariant is kept as build-fuzz/findings/<target>/crash-*, and the script fails.
#
#   fuzz/run-long.sh                      ten million runs of every target (hours)
#   fuzz/run-long.sh --runs 100000 fuzz_statusfile
#   fuzz/run-long.sh --seconds 25         a fixed time each (what CI does)
#   fuzz/run-long.sh --merge ...          afterwards, add the inputs that found new code to fuzz/corpus
#
# The inputs found along the way collect in build-fuzz/corpus/<target>, so a later run goes on from there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh

runs=10000000
seconds=0
merge=0
targets=()
while (($#)); do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; runs=0; shift 2 ;;
    --merge) merge=1; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(fuzz_statusfile fuzz_portfile fuzz_frameassembler fuzz_registerfile fuzz_receiver)

ensure_packages clang libclang-rt-14-dev
# Without ccache: it has handed back objects built without the coverage counters the allowlist asks for,
# and a fuzzer without counters finds nothing (libFuzzer then stops with "no interesting inputs").
configure_and_build build-fuzz orvel_fuzz -DORVEL_BUILD_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=

# Absolute paths: the targets that read files work in a directory of their own.
out=$PWD/build-fuzz
seeds=$PWD/fuzz/corpus
mkdir -p "$out/logs"
printf '%-20s %12s %9s %9s %8s  %s\n' target runs seconds "runs/s" corpus result
status=0
for t in "${targets[@]}"; do
  work=$out/corpus/$t findings=$out/findings/$t
  mkdir -p "$work" "$findings"
  cp -n "$seeds/$t"/* "$work"/ 2>/dev/null || true
  limits=(-timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/")
  ((runs > 0)) && limits+=(-runs="$runs")
  ((seconds > 0)) && limits+=(-max_total_time="$seconds")
  # Longer inputs only cost time: 512 bytes hold several replies, a 266-byte frame in the assembler's
  # byte-and-timing pairs, ten status values of 32 digits, any port name, and a register file of pages.
  case "$t" in
    fuzz_frameassembler) limits+=(-max_len=640) ;;
    fuzz_registerfile) limits+=(-max_len=2048) ;;
    *) limits+=(-max_len=512) ;;
  esac
  start=$(date +%s.%N)
  result=ok
  "$out/fuzz/$t" "${limits[@]}" "$work" >"$out/logs/$t.log" 2>&1 || result="FINDING (see $out/logs/$t.log)"
  elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/logs/$t.log" | tail -1)
  executed=${executed:-0}
  printf '%-20s %12s %9.0f %9.0f %8s  %s\n' "$t" "$executed" "$elapsed" "$(awk -v n="$executed" -v t="$elapsed" 'BEGIN { print n / t }')" \
    "$(ls "$work" | wc -l)" "$result"
  if [ "$result" != ok ]; then
    grep -m1 -A2 'invariant broken\|ERROR:' "$out/logs/$t.log" >&2 || tail -20 "$out/logs/$t.log" >&2
    status=1
    break
  fi
  if ((merge)); then
    "$out/fuzz/$t" -merge=1 "$seeds/$t" "$work" >>"$out/logs/$t.log" 2>&1
  fi
done
exit $status
