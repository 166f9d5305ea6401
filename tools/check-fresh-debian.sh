#!/usr/bin/env bash
# Tries Pelmora as a new user would, on a freshly made minimal Debian 12.
#
# Copies a pristine `debootstrap --variant=minbase bookworm` tree (made on the first run and kept
# as $CHROOTS/bookworm-minbase) to $CHROOTS/pelmora-fresh, clones this repository into it at
# REVISION, and there, as root with a bare environment, runs both README commands:
# scripts/run.sh (no display, so pelmora-scan on the sample clip) and scripts/test.sh. Then it
# starts the window under an Xvfb server of the host and saves a screenshot to look at: text must
# show real glyphs. It prints how long each command took, apt's download and install sizes and
# the tree's size before and after. The tree and the logs stay for a closer look.
#
# usage: tools/check-fresh-debian.sh [REVISION]      (default HEAD; run as root)
# environment: CHROOTS (default /work/chroots), DEBIAN_MIRROR (default: this machine's)
# needs on the host: debootstrap, git, Xvfb and ImageMagick's import
set -euo pipefail

revision=${1:-HEAD}
repo=$(cd "$(dirname "$0")/.." && pwd)
chroots=${CHROOTS:-/work/chroots}
base=$chroots/bookworm-minbase
tree=$chroots/pelmora-fresh
package_tree=$chroots/pelmora-package
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

mounted_under() { awk -v dir="$1" '$2 == dir || index($2, dir "/") == 1 { print $2 }' /proc/mounts; }

mounts=()
xvfb_pid=
window_pid=
cleanup() {
  if [[ -n $window_pid ]]; then kill "$window_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  if [[ -n $(mounted_under "$tree") ]]; then
    echo "$0: still mounted under $tree: $(mounted_under "$tree" | tr '\n' ' ')" >&2
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ ! -d $base ]]; then
  echo "== Making a minimal Debian 12 in $base from $mirror"
  rm -rf "$base.partial"
  debootstrap --variant=minbase bookworm "$base.partial" "$mirror" >"$chroots/debootstrap.log"
  mv "$base.partial" "$base"
fi

# Never remove a tree that still has the host's /dev or /sys bound into it.
if [[ -n $(mounted_under "$tree") ]]; then
  echo "$0: $tree still has mounts; unmount them first: $(mounted_under "$tree" | tr '\n' ' ')" >&2
  exit 1
fi
rm -rf "$tree" "$logs"
cp -a "$base" "$tree"
mkdir -p "$logs"

security=${mirror%/debian}/debian-security
cat >"$tree/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
cp -L /etc/resolv.conf "$tree/etc/resolv.conf"

mount -t proc proc "$tree/proc"
mounts+=("$tree/proc")
mount --bind /sys "$tree/sys"
mounts+=("$tree/sys")
mount --bind /dev "$tree/dev"
mounts+=("$tree/dev")
mount --bind /dev/pts "$tree/dev/pts"
mounts+=("$tree/dev/pts")

git clone -q "$repo" "$tree/root/pelmora"
git -C "$tree/root/pelmora" checkout -q --detach "$commit"
echo "== $(git -C "$repo" log -1 --format='%h %s' "$commit")"

# Megabytes on disk, without the clone with its build and without apt's downloaded archives and
# package lists.
tree_size() {
  du -sxm --exclude=./root/pelmora --exclude=./var/cache/apt/archives --exclude=./var/lib/apt/lists \
    "${1:-$tree}/." | cut -f1
}
size_before=$(tree_size)

# As root on a fresh machine: no display, no login session, no locale.
bare=(HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
in_tree() { chroot "$tree" /usr/bin/env -i "${bare[@]}" "$@"; }

timed() {
  local name=$1 start status
  shift
  start=$(date +%s)
  status=0
  in_tree bash -c "cd /root/pelmora && $*" >"$logs/$name.log" 2>&1 || status=$?
  echo "== $* took $(($(date +%s) - start)) s, exit status $status (log: $logs/$name.log)"
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
timed test scripts/test.sh
grep -E 'tests passed|tests failed' "$logs/test.log"

echo "== apt, per install (build, then test):"
grep -hE '^(Need to get|After this operation)' "$logs/run.log" "$logs/test.log" || true
echo "== Packages installed: $(in_tree dpkg-query -W -f='.\n' | wc -l)" \
  "(the minimal tree had $(chroot "$base" dpkg-query -W -f='.\n' | wc -l))"
echo "== Tree without the clone and apt's archives: $size_before MB before, $(tree_size) MB after"

# The package as a user installs it: a second fresh tree, apt's defaults (recommended packages
# too), nothing of the build set-up.
timed package scripts/package.sh
deb=$(cd "$tree/root/pelmora/build" && ls pelmora_*.deb | tail -n 1)
if [[ -n $(mounted_under "$package_tree") ]]; then
  echo "$0: $package_tree still has mounts; unmount them first" >&2
  exit 1
fi
rm -rf "$package_tree"
cp -a "$base" "$package_tree"
cp "$tree/etc/apt/sources.list" "$tree/etc/resolv.conf" "$package_tree/etc/"
cp "$tree/root/pelmora/build/$deb" "$package_tree/root/"
mount -t proc proc "$package_tree/proc"
mounts+=("$package_tree/proc")
package_before=$(tree_size "$package_tree")
chroot "$package_tree" /usr/bin/env -i "${bare[@]}" DEBIAN_FRONTEND=noninteractive \
  bash -c "apt-get update && apt-get install -y /root/$deb && pelmora-scan --version" \
  >"$logs/package.log" 2>&1 || { tail -n 40 "$logs/package.log"; exit 1; }
rm "$package_tree/root/$deb"
echo "== The package alone ($deb, apt's defaults):" \
  "$(grep -hE '^(Need to get|After this operation)' "$logs/package.log" | tr '\n' ' ')"
echo "== Package tree without apt's archives: $package_before MB before," \
  "$(tree_size "$package_tree") MB after: $(($(tree_size "$package_tree") - package_before)) MB installed"
echo "== The run command's set-up: $((size_after_run - size_before)) MB installed;" \
  "with the tests' set-up: $(($(tree_size) - size_before)) MB"

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
mkdir -p "$tree/tmp/.X11-unix"
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
echo "== Screenshot of the window: $logs/window.png (look at it: text must not be boxes)"
echo "== The tree stays in $tree for a closer look."
if ((${#problems[@]} > 0)); then
  echo "== Failed: ${#problems[@]} problem(s), see the !! lines above" >&2
  exit 1
fi
echo "== All well"
