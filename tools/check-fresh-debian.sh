#!/usr/bin/env bash
# Tries Pelmora as a new user would, on a freshly made minimal Debian 12.
#
# Copies a pristine `debootstrap --variant=minbase bookworm` tree (made on the first run and kept
# as $CHROOTS/bookworm-minbase, so that only the first run pays for it) to
# $CHROOTS/pelmora-fresh, clones this repository into it at REVISION, and there, as root with a
# bare environment, runs both README commands: scripts/run.sh (no display, so pelmora-scan on
# the sample clip) and scripts/test.sh. Then it packs the two Debian packages there and installs
# each as a user would, with apt's defaults, into a fresh tree of its own: pelmora-scan alone,
# and the window pelmora (with pelmora-scan, which it needs). Last, it starts the window under
# an Xvfb server of the host and saves a screenshot to look at: text must show real glyphs.
# It prints how long each step took, apt's download and install sizes and the trees' sizes.
# The trees and the logs stay for a closer look.
#
# usage: tools/check-fresh-debian.sh [REVISION]      (default HEAD; run as root)
#        tools/check-fresh-debian.sh --pristine-only   (only makes the pristine tree, if missing)
# environment: CHROOTS (default /work/chroots), DEBIAN_MIRROR (default: this machine's),
#   SHARED_CCACHE: a ccache folder the README commands' builds may take objects from (CI passes
#   the one its own release build filled); ccache itself is then installed in the tree first
# needs on the host: debootstrap, git, Xvfb and ImageMagick's import
# exit status: 0 all well, 1 a fault, 2 wrong use, 77 no Debian mirror could be reached (the
# check could not be made, and says so in one line)
set -euo pipefail

pristine_only=0
if [[ ${1:-} == --pristine-only ]]; then
  pristine_only=1
  shift
fi
revision=${1:-HEAD}
repo=$(cd "$(dirname "$0")/.." && pwd)
chroots=${CHROOTS:-/work/chroots}
base=$chroots/bookworm-minbase
tree=$chroots/pelmora-fresh
logs=$chroots/pelmora-fresh.logs
mirror=${DEBIAN_MIRROR:-$(grep -hoE '^(URIs:|deb) *https?://[^ ]+/debian/?( |$)' \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
  2>/dev/null | grep -oE 'https?://[^ ]+' | head -n1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
mirror=${mirror%/}

[[ $(id -u) -eq 0 ]] || { echo "$0: run as root" >&2; exit 2; }
for tool in debootstrap git Xvfb import; do
  command -v "$tool" >/dev/null || {
    echo "$0: $tool is missing (apt-get install --no-install-recommends debootstrap git xvfb imagemagick)" >&2
    exit 2
  }
done
commit=$(git -C "$repo" rev-parse --verify "$revision^{commit}")
mkdir -p "$chroots"

# Every later step needs the mirror, the pristine tree or not: without it there is nothing to
# try, which is not a fault of Pelmora's and must not pass for a success either.
if ! /usr/lib/apt/apt-helper download-file "$mirror/dists/bookworm/Release" \
  "$chroots/mirror-probe" >/dev/null 2>&1; then
  echo "SKIPPED: no Debian mirror could be reached at $mirror, so no fresh Debian 12 could be tried"
  exit 77
fi
rm -f "$chroots/mirror-probe"

mounted_under() { awk -v dir="$1" '$2 == dir || index($2, dir "/") == 1 { print $2 }' /proc/mounts; }

# One check at a time: with the lock held, whatever is still mounted in our trees was left by a
# check that was killed before it could clean up, and may be taken down.
exec {lock_fd}>"$chroots/.check-fresh-debian.lock"
flock -n "$lock_fd" || { echo "$0: another check is running in $chroots" >&2; exit 1; }

mounts=()
xvfb_pid=
window_pid=
declare -A install_pid install_what
cleanup() {
  # A package tree still installing is let finish: its /proc must not go from under apt.
  local pid
  for pid in "${install_pid[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [[ -n $window_pid ]]; then kill "$window_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  local dir
  for dir in "$tree" "$chroots"/pelmora-package-*; do
    if [[ -n $(mounted_under "$dir") ]]; then
      echo "$0: still mounted under $dir: $(mounted_under "$dir" | tr '\n' ' ')" >&2
    fi
  done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step_start=
begin() {
  step_start=$(date +%s)
}
took() {
  echo "== $* took $(($(date +%s) - step_start)) s"
}

if [[ ! -d $base ]]; then
  echo "== Making a minimal Debian 12 in $base from $mirror"
  begin
  rm -rf "$base.partial"
  debootstrap --variant=minbase bookworm "$base.partial" "$mirror" >"$chroots/debootstrap.log" 2>&1 ||
    { tail -n 20 "$chroots/debootstrap.log"; echo "$0: debootstrap failed" >&2; exit 1; }
  mv "$base.partial" "$base"
  took "debootstrap"
fi
((pristine_only == 0)) || exit 0

# A copy of the pristine tree at $1, with the mirror, name service and /proc it needs; never
# over a tree that still has the host's /dev or /sys bound into it.
fresh_tree() {
  local dir=$1
  local stale
  # Deepest first, so that /dev/pts comes down before /dev.
  while read -r stale; do
    [[ -n $stale ]] || continue
    echo "== Unmounting $stale, left by an earlier check"
    umount "$stale" 2>/dev/null || umount -l "$stale" || true
  done < <(mounted_under "$dir" | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2-)
  # rm -rf over a bound /dev or /sys would delete the host's own.
  if [[ -n $(mounted_under "$dir") ]]; then
    echo "$0: $dir still has mounts that would not come down: $(mounted_under "$dir" | tr '\n' ' ')" >&2
    exit 1
  fi
  rm -rf "$dir"
  cp -a "$base" "$dir"
  # A tree that is thrown away after the check need not survive a power cut: dpkg skips its
  # fsync after every file, as in Debian's own container images. What gets installed is the same.
  echo force-unsafe-io >"$dir/etc/dpkg/dpkg.cfg.d/pelmora-check-unsafe-io"
  local security=${mirror%/debian}/debian-security
  cat >"$dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
  cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
  mount -t proc proc "$dir/proc"
  mounts+=("$dir/proc")
}

begin
fresh_tree "$tree"
rm -rf "$logs"
mkdir -p "$logs"
mount --bind /sys "$tree/sys"
mounts+=("$tree/sys")
mount --bind /dev "$tree/dev"
mounts+=("$tree/dev")
mount --bind /dev/pts "$tree/dev/pts"
mounts+=("$tree/dev/pts")

git clone -q "$repo" "$tree/root/pelmora"
git -C "$tree/root/pelmora" checkout -q --detach "$commit"
took "Copying the tree and cloning"
echo "== $(git -C "$repo" log -1 --format='%h %s' "$commit")"

# Megabytes on disk, without the clone with its build and without apt's downloaded archives and
# package lists.
tree_size() {
  du -sxm --exclude=./root/pelmora --exclude=./var/cache/apt/archives --exclude=./var/lib/apt/lists \
    "${1:-$tree}/." | cut -f1
}

# As root on a fresh machine: no display, no login session, no locale.
bare=(HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
in_tree() { chroot "$tree" /usr/bin/env -i "${bare[@]}" "$@"; }

# With SHARED_CCACHE, the compiler cache the README commands' builds go through (see .ci/run).
cache_env=()
if [[ -n ${SHARED_CCACHE:-} ]]; then
  begin
  mkdir -p "$tree/var/cache/pelmora-ccache"
  mount --bind "$SHARED_CCACHE" "$tree/var/cache/pelmora-ccache"
  mounts+=("$tree/var/cache/pelmora-ccache")
  in_tree DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ccache \
    >"$logs/ccache.log" 2>&1 || { tail -n 20 "$logs/ccache.log"; exit 1; }
  # The cache's settings come with it, in its ccache.conf; paths are hashed from this tree's.
  cache_env=(CCACHE_DIR=/var/cache/pelmora-ccache CCACHE_BASEDIR=/root/pelmora
    CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache)
  in_tree "${cache_env[@]}" ccache --zero-stats >/dev/null
  took "Installing ccache for the shared compiler cache"
fi
size_before=$(tree_size)

timed() {
  local name=$1 status
  shift
  begin
  status=0
  in_tree "${cache_env[@]}" bash -c "cd /root/pelmora && $*" >"$logs/$name.log" 2>&1 || status=$?
  took "$*, exit status $status (log: $logs/$name.log),"
  if ((status != 0)); then
    tail -n 40 "$logs/$name.log"
    exit 1
  fi
}

problems=()
problem() {
  echo "!! $*" >&2
  problems+=("$*")
}

timed run scripts/run.sh
tail -n 2 "$logs/run.log"
size_after_run=$(tree_size)
# The packages as a user installs them: each into a fresh tree of its own, apt's defaults
# (recommended packages too), nothing of the build set-up. A package that needs another made
# here gets it from here, as `apt install ./a.deb ./b.deb` does. The packages are made before
# the tests run, so that their trees install while the tests keep the processors busy.
timed package scripts/package.sh
version=$(git -C "$tree/root/pelmora" show HEAD:CMakeLists.txt |
  sed -nE 's/^project\(Pelmora VERSION ([0-9.]+) .*/\1/p')
arch=$(chroot "$base" dpkg --print-architecture)
deb_of() { echo "${1}_${version}_$arch.deb"; }

# start_install NAME OPTIONS CHECK DEB...: makes $chroots/pelmora-package-NAME and, in the
# background, installs the packages there with apt-get's OPTIONS added (quoted as one word)
# and runs CHECK. With --names before the packages, they are names for the mirror rather than
# files made here. The four trees install side by side: apt mostly waits for the mirror and the
# disk. finish_install NAME waits for it, prints what it took and sets installed_mb.
installed_mb=0
start_install() {
  local name=$1 options=$2 check=$3
  shift 3
  local dir=$chroots/pelmora-package-$name debs=() deb names=0
  fresh_tree "$dir"
  if [[ ${1:-} == --names ]]; then
    names=1
    shift
    debs=("$@")
  else
    for deb in "$@"; do
      cp "$tree/root/pelmora/build/$deb" "$dir/root/"
      debs+=("/root/$deb")
    done
  fi
  cp "$tree/root/pelmora/build/sample/pelmora-sample.avi" "$dir/tmp/"
  install_what[$name]="$*"
  (
    started=$(date +%s)
    before=$(tree_size "$dir")
    status=0
    chroot "$dir" /usr/bin/env -i "${bare[@]}" DEBIAN_FRONTEND=noninteractive \
      bash -c "apt-get update && apt-get install -y $options ${debs[*]} && $check" \
      >"$logs/package-$name.log" 2>&1 || status=$?
    ((names)) || for deb in "$@"; do rm -f "$dir/root/$deb"; done
    echo "$status $(($(tree_size "$dir") - before)) $(($(date +%s) - started))" \
      >"$logs/package-$name.result"
  ) &
  install_pid[$name]=$!
}
finish_install() {
  local name=$1 status mb seconds
  wait "${install_pid[$name]}" || true
  read -r status mb seconds <"$logs/package-$name.result"
  if ((status != 0)); then
    tail -n 40 "$logs/package-$name.log"
    exit 1
  fi
  installed_mb=$mb
  echo "== Installing ${install_what[$name]} into a fresh tree took $seconds s"
  echo "== ${install_what[$name]}, apt's defaults:" \
    "$(grep -hE '^(Need to get|After this operation)' "$logs/package-$name.log" | tr '\n' ' ')"
  echo "== Installed: $installed_mb MB on disk without apt's archives and lists"
}

scan_deb=$(deb_of pelmora-scan)
window_deb=$(deb_of pelmora)
# The libraries pelmora-scan's package depends on, by name (the first of alternatives): what
# they bring with them is Debian's, not the package's own.
libraries=$(dpkg-deb -f "$tree/root/pelmora/build/$scan_deb" Depends |
  tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/ //g' | grep -v '^$' | tr '\n' ' ')
qt=$(tr ' ' '\n' <<<"$libraries" | grep -E '^libqt' || true)
[[ -z $qt ]] || problem "pelmora-scan's package depends on Qt: $qt"
installs_started=$(date +%s)
# shellcheck disable=SC2086 # the names are words
start_install libraries "" "true" --names $libraries
# The tool alone scans a real clip there.
start_install scan "" "pelmora-scan --version && pelmora-scan -o /tmp/sample /tmp/pelmora-sample.avi" \
  "$scan_deb"
start_install window "" "pelmora-scan --version && pelmora --version" "$scan_deb" "$window_deb"
# What a server that leaves out recommended packages (the video drivers FFmpeg's libraries
# recommend for decoding in hardware, which pelmora-scan never uses) gets.
start_install scan-lean --no-install-recommends "pelmora-scan --version" "$scan_deb"

timed test scripts/test.sh
grep -E 'tests passed|tests failed' "$logs/test.log"
if ((${#cache_env[@]} > 0)); then
  echo "== The README commands' compiler cache: $(in_tree "${cache_env[@]}" ccache --print-stats |
    awk -F'\t' '$1 == "direct_cache_hit" || $1 == "preprocessed_cache_hit" { hit += $2 }
      $1 == "cache_miss" { miss = $2 } END { printf "%d hits, %d misses", hit, miss }')"
fi

echo "== apt, per install (build, package, then test):"
grep -hE '^(Need to get|After this operation)' "$logs/run.log" "$logs/package.log" \
  "$logs/test.log" || true
echo "== Packages installed: $(in_tree dpkg-query -W -f='.\n' | wc -l)" \
  "(the minimal tree had $(chroot "$base" dpkg-query -W -f='.\n' | wc -l))"
echo "== Tree without the clone and apt's archives: $size_before MB before, $(tree_size) MB after"
echo "== The run command's set-up: $((size_after_run - size_before)) MB installed;" \
  "with the tests' set-up: $(($(tree_size) - size_before)) MB"

finish_install libraries
libraries_mb=$installed_mb
finish_install scan
scan_mb=$installed_mb
grep -E 'frames, [0-9]+ written' "$logs/package-scan.log" ||
  problem "pelmora-scan from its package wrote no summary line"
qt=$(chroot "$chroots/pelmora-package-scan" dpkg-query -W -f='${Package}\n' | grep -E '^libqt' |
  tr '\n' ' ' || true)
[[ -z $qt ]] || problem "installing pelmora-scan brought Qt: $qt"
# The package's own files and nothing more: the rest is what its libraries bring.
if ((scan_mb > libraries_mb + 10)); then
  problem "pelmora-scan adds $scan_mb MB, its libraries alone $libraries_mb MB"
fi
finish_install window
window_mb=$installed_mb
finish_install scan-lean
scan_lean_mb=$installed_mb
echo "== Installing the packages into their four trees, side by side and beside the tests," \
  "took $(($(date +%s) - installs_started)) s"
echo "== Added to a fresh Debian 12 with apt's defaults: pelmora-scan $scan_mb MB (its libraries" \
  "alone $libraries_mb MB), with the window pelmora $window_mb MB;" \
  "pelmora-scan without recommended packages $scan_lean_mb MB"
for name in libraries scan scan-lean window; do
  echo "== $name, Mesa's and LLVM's share: $(chroot "$chroots/pelmora-package-$name" \
    dpkg-query -W -f='${Installed-Size} ${Package}\n' |
    awk '$2 ~ /^(libllvm|libgl1-mesa-dri|libz3|mesa-|libglx-mesa)/ { s += $1 } END { printf "%d MB", s / 1024 }')"
done

echo "== Font files: $(find "$tree/usr/share/fonts" -type f \( -name '*.ttf' -o -name '*.otf' \
  -o -name '*.pfb' \) 2>/dev/null | wc -l)"

if grep -n 'XDG_RUNTIME_DIR' "$logs/run.log" "$logs/test.log"; then
  problem "the runtime-folder warning was printed"
fi
if leftovers=$(ls -d "$tree"/tmp/runtime-* 2>/dev/null); then
  problem "the tests left behind: $leftovers"
fi

# The window under a real X server, with only the libraries and fonts the set-up installed:
# the server runs on the host and the window connects to it through the shared socket folder.
begin
mkdir -p "$tree/tmp/.X11-unix" /tmp/.X11-unix
chmod 1777 /tmp/.X11-unix
mount --bind /tmp/.X11-unix "$tree/tmp/.X11-unix"
mounts+=("$tree/tmp/.X11-unix")
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$logs/display" \
  >"$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 40); do
  [[ -s $logs/display ]] && break
  sleep 0.5
done
display=$(head -n1 "$logs/display")
[[ -n $display ]] || { echo "$0: Xvfb did not start" >&2; cat "$logs/xvfb.log" >&2; exit 1; }
# Started directly (chroot and env exec it), so that the id is the window's own.
chroot "$tree" /usr/bin/env -i "${bare[@]}" DISPLAY=":$display" /root/pelmora/build/pelmora \
  >"$logs/window.log" 2>&1 &
window_pid=$!
sleep 8
if ! kill -0 "$window_pid" 2>/dev/null; then
  echo "$0: the window did not stay up:" >&2
  cat "$logs/window.log" >&2
  exit 1
fi
DISPLAY=":$display" import -window root "$logs/window.png"
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
window_pid=
if [[ -s $logs/window.log ]]; then
  cat "$logs/window.log"
  problem "the window printed the lines above"
fi
took "The window under Xvfb"
echo "== Screenshot of the window: $logs/window.png (look at it: text must not be boxes)"
echo "== The trees stay in $chroots for a closer look."
if ((${#problems[@]} > 0)); then
  echo "== Failed: ${#problems[@]} problem(s), see the !! lines above" >&2
  exit 1
fi
echo "== All well"
