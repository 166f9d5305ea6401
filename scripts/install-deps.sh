#!/usr/bin/env bash
# Installs the Debian packages that Pelmora needs and that are not installed yet; quick when
# everything is there. "build" is enough to build and run; "test" adds what the tests use.
set -euo pipefail

build_packages=(cmake g++ make pkg-config qtbase5-dev libqt5webkit5-dev libopencv-dev)
test_packages=(libgtest-dev libbenchmark-dev ffmpeg)

packages=("${build_packages[@]}")
case "${1:-build}" in
  build) ;;
  test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q "${missing[@]}"
