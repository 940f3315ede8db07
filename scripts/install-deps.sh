# Sourced by run.sh and test.sh: installs the Debian packages the build and the tests need,
# when any is missing. Runs apt-get as root, or through sudo.

vellomar_install_deps() {
  local wanted=(build-essential cmake qt6-base-dev libgtest-dev libgmock-dev
                util-linux e2fsprogs strace "$@")
  local missing=()
  local pkg
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

vellomar_build() {
  cmake --preset default >/dev/null
  cmake --build --preset default
}
