#!/usr/bin/env bash
# Installs what is missing, builds Pelmora and starts it: the window when there is a display,
# otherwise pelmora-scan on the sample clip that the build makes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
scripts/configure.sh build -DBUILD_TESTING=OFF
cmake --build build -j"$(nproc)"

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec build/pelmora "$@"
fi
snapshots=build/sample-snapshots
echo "No display here, so instead of the window: pelmora-scan on the sample clip."
build/pelmora-scan --output "$snapshots" build/sample/pelmora-sample.avi
echo "The snapshots are in $(pwd)/$snapshots"
