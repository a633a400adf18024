#!/usr/bin/env bash
# Fault trials on the real programs, on a display of their own (Xvfb), and their counts:
#   poll     the simulator killed at a random moment of a poll: does the program stay up, report the
#            fault, wait without using the CPU, and find the unit again by a rescan once the simulator is
#            back?
#   click    the same at a random moment of a click on a switch
#   replace  the program killed at a random moment while it replaces COM.ini (its fsync and rename slowed
#            down with strace so the moment can be hit): is the file ever torn or empty, and is the
#            temporary file gone after the next start?
# Not a pass/fail test (tests/e2e/FaultTrialTest.cpp runs one trial of each).
#
#   bench/fault-trials.sh [--trials N] [--seed S] [poll] [click] [replace]     (default: 100 of each)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
ensure_packages xvfb xdotool strace
cmake --build build -j"$(nproc)" --target orvel-fault-trials >/dev/null
exec build/bench/orvel-fault-trials "$@"
