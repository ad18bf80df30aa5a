#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is
# missing. Sourced by run.sh and test.sh.
VXRT7_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  # the fleet's register
  libsqlite3-dev
  clang libclang-rt-14-dev clang-format
  fonts-dejavu-core
  # the icon's PNG sizes; the installed program's and the package's checks
  librsvg2-bin desktop-file-utils appstream poppler-utils dpkg-dev file
  # the window's caption on a real X11 display
  xvfb x11-utils
  # the core and the tool for Windows (scripts/build-windows.sh) and their
  # tests under Wine (scripts/test-windows.sh; "wine" holds the wine and
  # wineboot commands, which wine64 only recommends); GoogleTest's sources
  g++-mingw-w64-x86-64-posix wine64 wine googletest
)

vxrt7_install_deps() {
  local missing=()
  local p
  for p in "${VXRT7_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
