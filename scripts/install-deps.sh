# Sourced by run.sh, test.sh and package.sh: installs the Debian packages the build and the
# tests need, when any is missing. Runs apt-get as root, or through sudo; a user who has neither
# is told the one command to have run as root, and the script ends with status 1.

# The packages of the Linux build and its tests, and those named. nginx serves the lists that
# the fetch tests fetch; unbound, dnsmasq, BIND and dig load and answer what export writes.
vellomar_install_deps() {
  vellomar_install_packages build-essential cmake qt6-base-dev libgtest-dev libgmock-dev \
    libcurl4-openssl-dev util-linux e2fsprogs strace nginx openssl \
    unbound dnsmasq-base bind9-utils bind9 dnsutils "$@"
}

# Exactly the packages named.
vellomar_install_packages() {
  local wanted=("$@")
  local missing=()
  local pkg
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Missing packages: ${missing[*]}" >&2
      echo "Run as root, then run this script again:" >&2
      echo "  $line" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
     ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
         --no-install-recommends "${missing[@]}"; then
    echo "Could not install the packages. Run as root, then run this script again:" >&2
    echo "  $line" >&2
    exit 1
  fi
}

vellomar_build() {
  cmake --preset default >/dev/null
  cmake --build --preset default
}
