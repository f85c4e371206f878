#!/usr/bin/env bash
# Builds the Linux viewer and starts it on the demo folder.
#
# Installs the Debian packages the viewer needs if any are missing, builds
# build/bin/qelviewer, writes build/demo (a backdrop in bg/bg.bmp and a few
# packed sprites to drag onto the window), then starts the viewer with
# build/demo as its working directory, so "Extract(BMP)" writes there.
# Arguments are passed to the viewer, which hands them to Qt (for example
# -platform xcb).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
qel_install_deps run

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
on_if_installed() {
  if installed "$1"; then echo ON; else echo OFF; fi
}

# The tests and benchmarks need packages that only test.sh installs; leave
# them out of the build until those are there, rather than fail to configure.
cmake -S . -B build -G Ninja \
  -DQEL_BUILD_TESTS="$(on_if_installed libgtest-dev)" \
  -DQEL_BUILD_BENCH="$(on_if_installed libbenchmark-dev)"
cmake --build build -j "$(nproc)" --target qelviewer qel_make_demo

build/bin/qel_make_demo build/demo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
run.sh: no display to show the viewer on: neither DISPLAY nor WAYLAND_DISPLAY is set.
The viewer is built (build/bin/qelviewer) and the demo files are in build/demo.
Run ./run.sh from a desktop session, or under a virtual X server: xvfb-run -a ./run.sh
MSG
  exit 1
fi

cd build/demo
exec ../bin/qelviewer "$@"
