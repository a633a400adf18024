#!/usr/bin/env bash
# Sets up and builds (scripts/setup.sh), then runs every test. No display is needed: the GUI tests run
# on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest -j"$(nproc)" --output-on-failure "$@"
