#!/usr/bin/env bash
# Builds the Debian package: sets up and builds as scripts/setup.sh does, then `cpack -G DEB` in build/.
# The package lands in build/ as orvel-control_<version>_<arch>.deb; install it with
#   sudo apt-get install ./build/orvel-control_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cd build
cpack -G DEB
ls -1 "$PWD"/orvel-control_*.deb
