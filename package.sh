#!/usr/bin/env bash
# Builds the Debian package build/vellomar_<version>_<arch>.deb (everything under /usr), which
# installs with: sudo apt install ./build/vellomar_*.deb
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
vellomar_install_deps dpkg-dev
vellomar_build
(cd build && cpack -G DEB)
ls -1 build/vellomar_*.deb
