#!/usr/bin/env bash
# CI: every fuzz target for a short fixed time from its seed corpus (fuzz/run-long.sh runs them long).
# Any broken invariant or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
exec fuzz/run-long.sh --seconds "${ORVEL_FUZZ_SECONDS:-20}"
