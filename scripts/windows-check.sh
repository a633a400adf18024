#!/usr/bin/env bash
# Builds the part of the program that needs no Qt (serial component with its Win32 backend, link,
# toolkit, status and port files, simulated units) for 64-bit Windows with mingw-w64 and runs its tests
# under Wine. Then it maps COM1 to the pseudo-terminal of orvel-unitsim (built for this machine) and runs
# the Win32 backend and the link against simulated units 3 and 7 on it.
#
# Installs what it needs from Debian when it is missing (with sudo unless run as root). Everything goes
# into build-windows/ (or $WINDOWS_BUILD_DIR): the cross build, a native build of the simulator, the
# Wine prefix and the simulator's files. Needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
started=$SECONDS

packages=(build-essential cmake g++-mingw-w64-x86-64 googletest wine wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

root=${WINDOWS_BUILD_DIR:-$source_dir/build-windows}
mkdir -p "$root"
root=$(cd "$root" && pwd)
jobs=$(nproc)

echo "== Cross build for Windows (x86_64, mingw-w64) in $root/cross"
cmake -S . -B "$root/cross" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVEL_WITH_QT=OFF -DORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/cross" -j"$jobs"

echo "== The simulator for this machine in $root/native"
cmake -S . -B "$root/native" -DCMAKE_BUILD_TYPE=Release -DORVEL_WITH_QT=OFF -DORVEL_BUILD_TESTS=OFF \
  -DORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/native" -j"$jobs" --target orvel-unitsim

# Wine: a prefix of our own, no display, no debug chatter, and no offer to install its .NET and HTML
# runtimes, which nothing here needs.
export WINEPREFIX=$root/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine's own programs are started with their output thrown away, so none of its background processes
# holds a pipe of ours open. Paths reach the Windows programs through Wine's drive Z:, the root.
quiet() { "$@" >/dev/null 2>&1; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
restart_wineserver() {
  quiet wineserver -k || true
  quiet wineserver -w || true
  # One server for every program that follows, instead of one started and stopped per program. Its
  # services start with the first program and stay: started by a test program they would inherit the
  # pipe CTest reads its output from, and CTest would wait for them for ever.
  quiet wineserver -p
  quiet wine cmd /c exit 0
}
no_skips() {
  if grep -q SKIPPED "$1"; then
    echo "windows-check: cases were skipped: the program did not get the port or the simulator's files" >&2
    exit 1
  fi
}
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== Wine prefix in $WINEPREFIX"
  quiet timeout 300 wineboot --init
fi
restart_wineserver

echo "== Tests under Wine"
ctest --test-dir "$root/cross" -j"$jobs" --output-on-failure --timeout 600

echo "== COM1 on simulated units 3 and 7"
run=$root/com1
rm -rf "$run"
mkdir -p "$run"
"$root/native/bin/orvel-unitsim" --units 3,7 --link "$run/tty" --trace "$run/trace.jsonl" \
  --state "$run/state.txt" >"$run/sim.out" 2>"$run/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$run/sim.out" ] || ! kill -0 "$sim_pid" 2>/dev/null && break
  sleep 0.1
done
pty=$(head -n1 "$run/sim.out" || true)
if [ -z "$pty" ]; then
  echo "orvel-unitsim did not start:" >&2
  cat "$run/sim.err" >&2
  exit 1
fi
echo "COM1 -> $pty"
# Wine reads its port mapping when its server starts.
quiet wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f
restart_wineserver
ORVEL_TEST_PORT=COM1 ORVEL_TEST_TRACE=$(windows_path "$run/trace.jsonl") \
  timeout 300 wine "$root/cross/tests/win32_port_tests.exe" --gtest_filter='-Win32PortState.*' \
  | tee "$run/port-tests.txt"
no_skips "$run/port-tests.txt"
# The simulator writes its units' registers as it ends; the test program then checks what they hold.
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
ORVEL_TEST_STATE=$(windows_path "$run/state.txt") \
  timeout 300 wine "$root/cross/tests/win32_port_tests.exe" --gtest_filter='Win32PortState.*' \
  | tee "$run/state-test.txt"
no_skips "$run/state-test.txt"

echo "== Windows check passed in $((SECONDS - started)) s"
