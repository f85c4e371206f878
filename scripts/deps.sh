#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Sourced by run.sh, test.sh and serve-web.sh; `qel_install_deps all`,
# `qel_install_deps run` or `qel_install_deps web`.
set -euo pipefail

# The image plugins build against GdkPixbuf and Qt 5 besides Qt 6.
QEL_RUN_PACKAGES=(cmake ninja-build g++ pkg-config zlib1g-dev qt6-base-dev libpng-dev
  libgdk-pixbuf-2.0-dev qtbase5-dev)
# The web page: emscripten, and what fetching and unpacking zlib's Debian
# source package needs.
QEL_WEB_PACKAGES=(emscripten bzip2 python3)
QEL_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev patch wine wine32 wine64 xvfb xauth
  clang libclang-rt-14-dev valgrind python3
  libx11-dev xdotool
  dpkg-dev file lintian unzip desktop-file-utils shared-mime-info libgdk-pixbuf2.0-bin wixl msitools
  "${QEL_WEB_PACKAGES[@]}" chromium)

qel_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

qel_install_deps() {
  local packages=("${QEL_RUN_PACKAGES[@]}")
  case "${1:-all}" in
    all)
      packages+=("${QEL_TEST_PACKAGES[@]}")
      # npm installs the browser test's puppeteer-core. Only Debian's when
      # there is none: a Node from elsewhere brings its own npm.
      command -v npm >/dev/null 2>&1 || packages+=(npm) ;;
    web) packages+=("${QEL_WEB_PACKAGES[@]}") ;;
  esac
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  case " ${missing[*]} " in
    *" wine32 "*)
      dpkg --print-foreign-architectures | grep -qx i386 || qel_as_root dpkg --add-architecture i386 ;;
  esac
  qel_as_root apt-get update -qq
  qel_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
