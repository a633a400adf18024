#!/usr/bin/env bash
# Polls 16 simulated units over a pseudo-terminal, again and again, while both cores are overloaded by
# other processes (eight busy loops and four loops that keep starting short programs), and prints from
# the simulator's trace how the program's requests reached the line: frames sent, frames that paused
# inside for more than 1 ms, the longest such pause, frames the units dropped, and polls whose indicators
# cannot have shown the units' registers. Not a pass/fail test: the figures are what it is for.
#
#   --polls N        how many polls (default 10; each is one start of the program, about 30 s)
#   --program PATH   the orvel-control to measure (default build/bin/orvel-control)
#   --drop-gap MS    the pause inside a frame after which the units drop it (default 10)
#   --no-load        the same without the load, for comparison
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

polls=10
program="$root/build/bin/orvel-control"
dropgap=10
load=1
while [ $# -gt 0 ]; do
  case "$1" in
    --polls) polls="$2"; shift 2 ;;
    --program) program=$(realpath "$2"); shift 2 ;;
    --drop-gap) dropgap="$2"; shift 2 ;;
    --no-load) load=0; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "poll-under-load.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
stats="$root/build/bench/orvel-trace-stats"
for tool in "$program" "$root/build/bin/orvel-unitsim" "$stats"; do
  [ -x "$tool" ] || { echo "poll-under-load.sh: $tool is missing; run scripts/setup.sh first" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

# Neighbouring indicator registers hold different values, so a select the units dropped shows as a wrong
# value in the read that follows it.
{
  for a in $(seq 1 16); do
    echo "unit $a"
    i=0
    for code in 0x4E 0x6E 0x8E 0xAE 0x4C 0x6C 0x8C 0xAC; do
      echo "$code = $(((a + i) % 4))"
      i=$((i + 1))
    done
  done
} > "$work/registers.txt"

"$root/build/bin/orvel-unitsim" --units "$(seq -s, 1 16)" --registers "$work/registers.txt" \
  --link "$work/tty" --trace "$work/trace.jsonl" --state "$work/state.txt" --drop-gap "$dropgap" \
  > "$work/unitsim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.05; done
[ -e "$work/tty" ] || { echo "poll-under-load.sh: the simulator did not come up" >&2; cat "$work/unitsim.out" >&2; exit 1; }

if [ "$load" = 1 ]; then
  for _ in $(seq 8); do (while :; do :; done) & pids+=($!); done
  for _ in $(seq 4); do (while :; do /bin/true; done) & pids+=($!); done
fi

mkdir -p "$work/program"
cp -r "$root/build/bin/Bmp" "$work/program/Bmp"
for i in $(seq "$polls"); do
  printf '%s\r\n' "$work/tty" > "$work/program/COM.ini"
  (cd "$work/program" && QT_QPA_PLATFORM=offscreen exec "$program" > "$work/program.out" 2>&1) &
  prog=$!
  # The poll is over once address 16 has been probed and read and the line has been quiet for 2 s (a
  # message box at its end would wait for an operator who is not there).
  last=""
  quiet=0
  for _ in $(seq 1800); do
    kill -0 "$prog" 2>/dev/null || break
    size=$(stat -c %s "$work/trace.jsonl")
    if [ "$size" = "$last" ]; then quiet=$((quiet + 1)); else quiet=0; last=$size; fi
    probes=$(grep -c '"from":"host".*"bytes":"E2 E4 05 10 FF 00 09' "$work/trace.jsonl" || true)
    [ "$probes" -ge "$i" ] && [ "$quiet" -ge 20 ] && break
    sleep 0.1
  done
  kill "$prog" 2>/dev/null || true
  wait "$prog" 2>/dev/null || true
  echo "poll $i of $polls done (load average $(cut -d' ' -f1 /proc/loadavg))" >&2
done
kill "${pids[@]}" 2>/dev/null || true
kill "$sim"
wait "$sim" 2>/dev/null || true

echo "program: $program; load: $([ "$load" = 1 ] && echo '8 busy loops + 4 process-starting loops' || echo none); drop gap: $dropgap ms"
"$stats" "$work/trace.jsonl" "$work/state.txt"
