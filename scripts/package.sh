#!/usr/bin/env bash
# Installs what is missing, builds Pelmora and packs its two Debian packages in build/:
# pelmora-scan (the command-line tool, no Qt) and pelmora (the window, which depends on it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package
scripts/configure.sh build
cmake --build build -j"$(nproc)"
cd build
cpack -G DEB
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' CPackConfig.cmake)
arch=$(dpkg --print-architecture)
echo "For servers, containers and clusters: sudo apt install $(pwd)/pelmora-scan_${version}_$arch.deb"
echo "For the window as well: sudo apt install $(pwd)/pelmora-scan_${version}_$arch.deb $(pwd)/pelmora_${version}_$arch.deb"
