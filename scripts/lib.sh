# shellcheck shell=bash
# shellcheck disable=SC2034 # the package lists are read by the scripts that source this file
# Sourced by every script here (each sets -euo pipefail first): the Debian packages the
# project needs, installed when missing (as root) or the one command that installs them
# (otherwise); the project's version; the mingw-w64 runtime; a virtual X display.

KV58_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Packages to build the program and its tests (the window tests measure text, so fonts too;
# the tools parse their options with CLI11 and write and read JSON with nlohmann/json).
KV58_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev libcli11-dev
  nlohmann-json3-dev googletest libbenchmark-dev fonts-comic-neue fonts-dejavu-core libssl-dev)
# Packages of the tests beyond the build: the device simulator's partner ends (socat), a
# real device server in front of it (ser2net), ip and tc to make and slow down the
# loopback of the slow-link test's own network namespace (iproute2), and the openssl tool
# that makes the TLS tests' keys and certificates.
KV58_TEST_PACKAGES=(socat ser2net iproute2 openssl)
# Packages of the fuzz targets (scripts/fuzz): clang with its libFuzzer and sanitizer runtimes.
KV58_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Packages to build the Debian package (scripts/package-linux) and to check it (systemd for
# systemd-analyze, which checks kv58-serve.service).
KV58_PACKAGE_PACKAGES=(dpkg-dev file help2man)
KV58_PACKAGE_CHECK_PACKAGES=(desktop-file-utils appstream lintian librsvg2-bin imagemagick systemd)
# Packages to show the window where there is no display, and to photograph it.
KV58_DISPLAY_PACKAGES=(xvfb xauth x11-utils imagemagick)
# Packages to read the window as a screen reader does on Linux: the accessibility bus and its
# Python client, a D-Bus session of the test's own, and the keyboard given to the window.
KV58_ACCESSIBILITY_PACKAGES=(at-spi2-core python3-pyatspi dbus-daemon xdotool)

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
  local version
  version=$(sed -n 's/^project(kv58 VERSION \([0-9.]*\).*/\1/p' "$KV58_ROOT/CMakeLists.txt")
  if [ -z "$version" ]; then
    echo "no project(kv58 VERSION ...) in $KV58_ROOT/CMakeLists.txt" >&2
    return 1
  fi
  echo "$version"
}

# The DLLs that a program of the posix-threads mingw-w64 compiler needs beside it, when not
# linked statically: the C++ runtime, libgcc and the threads library. Asked of the compiler,
# which knows its own version's folder; one path a line. Needs g++-mingw-w64-x86-64-posix.
kv58_mingw_runtime_dlls() {
  local dll dll_path
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    dll_path=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")
    if [ ! -f "$dll_path" ]; then
      echo "x86_64-w64-mingw32-g++-posix finds no $dll" >&2
      return 1
    fi
    realpath -s "$dll_path" # the name as the program loads it, even if a link
  done
}

# kv58_start_xvfb LOG: starts a virtual X display of its own, with the first free number
# (Xvfb picks it and reports it once it accepts clients), and exports DISPLAY. The server's
# process id is left in KV58_XVFB_PID, for the caller to end. Needs KV58_DISPLAY_PACKAGES.
kv58_start_xvfb() {
  local log=$1 number_file
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" </dev/null >"$log" 2>&1 &
  KV58_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$number_file" ] && break
    sleep 0.1
  done
  if [ ! -s "$number_file" ]; then
    rm -f "$number_file"
    echo "Xvfb did not start: $(cat "$log")" >&2
    return 1
  fi
  DISPLAY=":$(cat "$number_file")"
  export DISPLAY
  rm -f "$number_file"
}

kv58_log() { printf '\033[1m==> %s\033[0m\n' "$*"; }
kv58_fail() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# Debian's source packages are reachable once the machine's archive has a deb-src entry:
# derived from the existing deb822 entry, so the same mirror and suites serve both.
kv58_ensure_deb_src() {
  local sources=/etc/apt/sources.list.d/debian.sources derived=/etc/apt/sources.list.d/kv58-deb-src.sources
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  [ -f "$sources" ] || kv58_fail "no deb-src entry and no $sources to derive one from; add a deb-src line"
  [ "$(id -u)" -eq 0 ] || kv58_fail "no deb-src entry; as root, add one for the archive in $sources"
  kv58_log "Adding a deb-src entry derived from $sources"
  sed -e 's/^Types:.*$/Types: deb-src/' "$sources" >"$derived"
  apt-get update -qq
}
