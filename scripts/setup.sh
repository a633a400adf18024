#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, where they are missing, then
# configures and builds (everything, or only the targets named as arguments). Safe to run again: it only
# installs and rebuilds what is out of date.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  qt6-svg-dev qt6-translations-l10n dpkg-dev file desktop-file-utils
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-utils imagemagick xdotool
  strace libxtst-dev
  gdb  # a test whose program does not get on shows what its threads are doing
  fonts-dejavu-core fonts-liberation
  xclip  # the end-to-end tests read message boxes the way an operator copies their text
  # The serial device server the network tests run the program against.
  ser2net
)

source scripts/build-env.sh
ensure_packages "${packages[@]}"

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
