#!/usr/bin/env bash
# Sets up and builds (scripts/setup.sh), starts simulated units at addresses 3 and 7 on a pseudo-terminal,
# and runs ORVEL Control on it. Without a display it runs under Xvfb.
#
#   --screenshot FILE   save a picture of the main window once the poll has finished, then end both programs
#   --units LIST        the simulated unit addresses (default 3,7, as unitsim/demo-registers.txt sets them up;
#                       a list of your own starts from factory settings; 0 is a unit without an address)
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)

screenshot=""
units="3,7"
registers=(--registers "$root/unitsim/demo-registers.txt")
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot="$2"; shift 2 ;;
    --units) units="$2"; registers=(); shift 2 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
case "$screenshot" in ""|/*) ;; *) screenshot="$here/$screenshot" ;; esac

./scripts/setup.sh orvel-control orvel-unitsim orvel_button_images  # the tests are not needed here

# The program's working directory: COM.ini, the Status<n>.log files and the button images live here.
work="$root/build/demo"
mkdir -p "$work"
rm -rf "$work/Bmp"
cp -r "$root/build/bin/Bmp" "$work/Bmp"
link="$work/ttyORVEL"

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$root/build/bin/orvel-unitsim" --units "$units" "${registers[@]}" \
  --link "$link" --trace "$work/trace.jsonl" --state "$work/units.txt" &
pids+=($!)
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || { echo "demo.sh: the simulator did not come up" >&2; exit 1; }
printf '%s\r\n' "$link" > "$work/COM.ini"
echo "Simulated units $units on $link; trace in $work/trace.jsonl, registers in $work/units.txt"

if [ -z "${DISPLAY:-}" ]; then
  # The server takes the first free display itself and says which: a number picked here could be one
  # another session already serves, and the program would appear on that session's screen.
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1100x700x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { echo "demo.sh: Xvfb did not come up" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
fi
export QT_QPA_PLATFORM=xcb
[ -n "${XDG_RUNTIME_DIR:-}" ] || { XDG_RUNTIME_DIR=$(mktemp -d); export XDG_RUNTIME_DIR; }

cd "$work"
if [ -z "$screenshot" ]; then
  "$root/build/bin/orvel-control"
  exit $?
fi

before=$(stat -c %i COM.ini)
"$root/build/bin/orvel-control" &
pids+=($!)
# A poll that found units rewrites COM.ini: that is the sign it has finished.
for _ in $(seq 600); do
  [ "$(stat -c %i COM.ini 2>/dev/null || echo "$before")" != "$before" ] && break
  sleep 0.1
done
sleep 1
# Every window without a caption of its own carries the program's name, the hidden poll window and the
# client leader among them: take the one that is on the screen, or the whole screen when a message box
# stands beside it.
window=""
shown=0
for id in $(xwininfo -root -tree | awk '/"ORVEL Control": \(/ {print $1}'); do
  if xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then window=$id; shown=$((shown + 1)); fi
done
if [ "$shown" -eq 1 ]; then import -window "$window" "$screenshot"; else import -window root "$screenshot"; fi
echo "Screenshot saved to $screenshot"
