#!/usr/bin/env bash
# Configures the build folder $1 with the CMake options after it. A new folder is made for
# Ninja, which keeps every processor busy across the targets where make waits for each library
# before it starts on what uses it; a folder made before keeps the generator it was made with.
set -euo pipefail
dir=$1
shift
generator=()
[[ -f $dir/CMakeCache.txt ]] || generator=(-G Ninja)
cmake -S "$(dirname "$0")/.." -B "$dir" "${generator[@]}" "$@"
