#!/usr/bin/env bash
# Builds the core, the platform layer and their tests for 64-bit Windows with MinGW-w64 and runs
# the tests under Wine, headless, in a Wine prefix of their own (build-windows/wineprefix); then
# makes the setup program (NSIS) and installs, runs and uninstalls it under Wine in another
# fresh prefix (tests/package/windows_setup.sh).
# Installs the Debian packages it needs when any is missing (as root, or through sudo).
#   scripts/windows-tests.sh            configure, build and test
#   scripts/windows-tests.sh --clean    the same from an empty build-windows/
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--clean" ]; then
  rm -rf build-windows
fi

# nginx and openssl: the HTTP test's server (tests/platform/http_nginx.sh).
wanted=(cmake g++-mingw-w64-x86-64-posix wine64 wine googletest nsis xvfb xauth nginx openssl)
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

# The same environment the tests get from CTest (see cmake/toolchain-mingw64.cmake).
export WINEPREFIX="$PWD/build-windows/wineprefix"
export WINEDEBUG=-all
export DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
wine_bin=$(command -v wine || echo /usr/lib/wine/wine64)
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)

cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross

# One Wine server for the whole run instead of one per test, ended when the run is over.
mkdir -p "$WINEPREFIX"
"$wineserver_bin" -p
trap '"$wineserver_bin" -k 2>/dev/null || true' EXIT
# Boot the prefix (creating it on the first run) before the tests start in parallel. The
# system processes Wine starts then stay with the persistent server and hold /dev/null, not the
# output of CTest, which would otherwise wait for them to end.
[ -d "$WINEPREFIX/drive_c/windows/system32" ] || echo "Creating the Wine prefix in $WINEPREFIX"
"$wine_bin" wineboot >/dev/null 2>&1 || true

ctest --preset windows-cross

# The setup program of this build, then its install and uninstall in a prefix of their own.
cmake --build --preset windows-cross --target vellomar-setup
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
tests/package/windows_setup.sh "build-windows/vellomar-$version-win64-setup.exe" \
  build-windows/share/windows/setup/staging
