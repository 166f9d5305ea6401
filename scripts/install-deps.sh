#!/usr/bin/env bash
# Installs the Debian packages that Pelmora needs and that are not installed yet; quick when
# everything is there. "build" is enough to build and run; "package" adds what the Debian
# package is made with; "test" adds what the tests use.
# Recommended packages stay out (they would bring systemd, Mesa drivers, GTK and more); what
# the programs need at run time all comes as dependencies of these: Qt's X11 platform plugin
# with its xcb libraries and the DejaVu fonts (libqt5gui5), FFmpeg's codecs (libavcodec59),
# the zone database (tzdata, through libdate-tz3).
set -euo pipefail

# FFmpeg's libraries are found with pkg-config, which nothing else brings along.
# Of OpenCV, the programs build on the core and imaging modules alone, each looked up by its
# own package (cmake/OpenCVModules.cmake) rather than with libopencv-dev and every module.
build_packages=(cmake ninja-build g++ pkgconf qtbase5-dev libopencv-core-dev
  libopencv-imgproc-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libswresample-dev libjpeg-dev libcli11-dev nlohmann-json3-dev libhowardhinnant-date-dev
  libkainjow-mustache-dev)
# The window's PNG icons are rendered from their SVG when the packages are made.
package_packages=(dpkg-dev file librsvg2-bin)
# Slurm and munge are for the cluster test, which starts its own daemons with a configuration,
# key and ports of its own. Installing them starts nothing where there is no init system; under
# systemd the package's munged starts, and slurmd and slurmctld wait for an /etc/slurm/slurm.conf.
# QtWebKit is the browser engine the report's test reads report.html in; the programs need none.
# OpenCV's video and image files are the reference the tests hold the reader to, and their
# writer of test clips. Python's own JSON and CSV readers read the exported events back.
test_packages=(libgtest-dev libbenchmark-dev ffmpeg libqt5webkit5-dev
  libopencv-videoio-dev libopencv-imgcodecs-dev
  lintian desktop-file-utils appstream man-db bash-completion
  slurmctld slurmd slurm-client munge jq python3)

packages=("${build_packages[@]}")
case "${1:-build}" in
  build) ;;
  package) packages+=("${package_packages[@]}") ;;
  test) packages+=("${package_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|package|test]" >&2; exit 2 ;;
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
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
