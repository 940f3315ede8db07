#!/usr/bin/env bash
# Builds the Debian package build/vellomar_<version>_<arch>.deb (everything under /usr), which
# installs with: sudo apt install ./build/vellomar_*.deb
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
# cpack needs file(1) to find the binaries and dpkg-shlibdeps (dpkg-dev) for the dependencies.
vellomar_install_deps dpkg-dev file
vellomar_build
(cd build && cpack -G DEB)
ls -1 build/vellomar_*.deb
