#!/usr/bin/env bash
# Builds the configurator and starts it. With --demo, first starts the device
# simulator on a pseudo-terminal and points the configurator at it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vxrt7_install_deps

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vxrt7-config vxrt7-sim

if [ "${1:-}" = "--demo" ]; then
  shift
  link="${XDG_RUNTIME_DIR:-/tmp}/vxrt7-demo-tty"
  build/bin/vxrt7-sim --link "$link" &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
  done
  build/bin/vxrt7-config --port "$link" "$@"
else
  exec build/bin/vxrt7-config "$@"
fi
