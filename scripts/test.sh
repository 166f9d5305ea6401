#!/usr/bin/env bash
# Installs what is missing, builds Pelmora with its tests and runs every test. The window's
# tests run on Qt's offscreen platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
scripts/configure.sh build -DBUILD_TESTING=ON
cmake --build build -j"$(nproc)"
cd build
# One test more at a time than there are processors: the cluster test mostly waits for its
# scheduler's polling, and a processor would sit idle beside it.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(($(nproc) + 1))"
