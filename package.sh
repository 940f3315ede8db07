#!/usr/bin/env bash
# Builds a package of this tree:
#   ./package.sh           the Debian package build/vellomar_<version>_<arch>.deb (everything
#                          under /usr), which installs with: sudo apt install ./build/vellomar_*.deb
#   ./package.sh windows   the Windows setup program build-windows/vellomar-<version>-win64-setup.exe,
#                          cross-built with MinGW-w64 and packed by NSIS (share/windows/)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
case "${1:-deb}" in
  deb)
    # cpack needs file(1) to find the binaries and dpkg-shlibdeps (dpkg-dev) for the dependencies.
    vellomar_install_deps dpkg-dev file
    vellomar_build
    (cd build && cpack -G DEB)
    ls -1 build/vellomar_*.deb
    ;;
  windows)
    # googletest: the preset configures the tests too (built from Debian's sources).
    vellomar_install_packages cmake g++-mingw-w64-x86-64-posix googletest nsis
    cmake --preset windows-cross >/dev/null
    cmake --build --preset windows-cross --target vellomar-setup
    ls -1 build-windows/vellomar-*-win64-setup.exe
    ;;
  *)
    echo "usage: $0 [deb|windows]" >&2
    exit 2
    ;;
esac
