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
  fonts-dejavu-core fonts-liberation
  xclip  # the end-to-end tests read message boxes the way an operator copies their text
  # The serial device server the network tests run the program against.
  ser2net
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
