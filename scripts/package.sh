#!/usr/bin/env bash
# Installs what is missing, builds Pelmora and packs it as a Debian package in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package
cmake -S . -B build
cmake --build build -j"$(nproc)"
cd build
cpack -G DEB
echo "Install it with: sudo apt install $(pwd)/$(ls pelmora_*.deb | tail -n 1)"
