# Shared by scripts/run and scripts/test: the Debian packages the project needs, installed
# when missing (as root), or the one command that installs them (otherwise).

KV58_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Packages to build the program and its tests (the window tests measure text, so fonts too;
# the tools parse their options with CLI11).
KV58_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev libcli11-dev
  googletest libbenchmark-dev fonts-comic-neue fonts-dejavu-core)
# Packages to build the Debian package (scripts/package-linux) and to check it.
KV58_PACKAGE_PACKAGES=(dpkg-dev file help2man)
KV58_PACKAGE_CHECK_PACKAGES=(desktop-file-utils appstream lintian librsvg2-bin imagemagick)
# Packages to show the window where there is no display, and to photograph it.
KV58_DISPLAY_PACKAGES=(xvfb xauth x11-utils imagemagick)

kv58_missing_packages() {
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$package"
    fi
  done
}

# kv58_require_packages PACKAGE...: installs what is missing, or says how and fails.
kv58_require_packages() {
  local missing
  mapfile -t missing < <(kv58_missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another install may hold the package lock (a parallel script): wait for it, do not fail.
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The version in the top CMakeLists.txt's project(), e.g. 1.0.0.
kv58_version() {
  sed -n 's/^project(kv58 VERSION \([0-9.]*\).*/\1/p' "$KV58_ROOT/CMakeLists.txt"
}

kv58_log() { printf '\033[1m==> %s\033[0m\n' "$*"; }
