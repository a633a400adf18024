#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, where they are missing, then
# configures and builds. Safe to run again: it only installs and rebuilds what is out of date.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-utils imagemagick xdotool
  strace libxtst-dev
  fonts-dejavu-core fonts-liberation
  # The serial device server the network tests run the program against, and the pointer they click with.
  ser2net xdotool
)

source scripts/build-env.sh
ensure_packages "${packages[@]}"

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build build -j"$(nproc)"
