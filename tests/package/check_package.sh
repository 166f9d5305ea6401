#!/usr/bin/env bash
# The Debian packages as a user gets them, checked with the distribution's own tools: the
# command-line tool pelmora-scan, and the window pelmora, which depends on it.
#
#   check_package.sh build        builds both packages with CPack and unpacks them
#   check_package.sh CHECK        one check of the unpacked packages (see the end of the file)
#
# From the environment: PELMORA_BUILD_DIR (the CMake build folder), PELMORA_PACKAGE_WORK (a
# folder of its own for the packages and their unpacked trees) and PELMORA_VERSION.
set -euo pipefail

build_dir=${PELMORA_BUILD_DIR:?}
work=${PELMORA_PACKAGE_WORK:?}
version=${PELMORA_VERSION:?}
# Both packages unpacked together, as a user who installs the window has them; each one is
# also unpacked alone in $work/alone/PACKAGE.
root=$work/root
packages=(pelmora-scan pelmora)

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

need() {
    command -v "$1" >/dev/null || fail "$1 is missing: install the Debian package $2"
}

package_file() {
    echo "$work/${1}_${version}_$(dpkg --print-architecture).deb"
}

# The options a text names, one a line, sorted: long ones (--name) and short ones (-x),
# wherever they stand, so that any layout of a help text or a manual page will do.
options_in() {
    grep -oP '(?<![\w-])(--[A-Za-z][\w-]*|-[A-Za-z])(?![\w-])' | sort -u || true
}

# The manual page as plain text, without hyphenation, so that no option is broken in two.
render_manual() {
    MANWIDTH=200 man -P cat --no-hyphenation --no-justification -E ascii -l "$1" 2>/dev/null
}

# The text of a manual page's section: from its heading to the next one.
section() {
    awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name) } inside'
}

expect_same() {
    local what=$1 expected=$2 actual=$3
    if [[ "$expected" != "$actual" ]]; then
        echo "$what differ:" >&2
        diff <(echo "$expected") <(echo "$actual") >&2 || true
        exit 1
    fi
}

check_build() {
    need cpack cmake
    need dpkg-deb dpkg
    need dpkg-shlibdeps dpkg-dev
    rm -rf "$work"
    mkdir -p "$work"
    cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack did not build the packages"; }
    local package
    for package in "${packages[@]}"; do
        [[ -f $(package_file "$package") ]] || fail "no $(package_file "$package") after cpack"
        dpkg-deb -x "$(package_file "$package")" "$root"
        mkdir -p "$work/alone"
        dpkg-deb -x "$(package_file "$package")" "$work/alone/$package"
        echo "built and unpacked $(basename "$(package_file "$package")")"
    done
}

# The files a package holds, one a line, sorted: regular files and links, without folders.
files_of() {
    (cd "$work/alone/$1" && find . ! -type d | sed 's|^\./|/|' | sort)
}

check_contents() {
    need file file
    expect_same "The files of pelmora-scan" "$(printf '%s\n' \
        /usr/bin/pelmora-scan \
        /usr/share/bash-completion/completions/pelmora-scan \
        /usr/share/doc/pelmora-scan/changelog.gz \
        /usr/share/doc/pelmora-scan/copyright \
        /usr/share/man/man1/pelmora-scan.1.gz)" "$(files_of pelmora-scan)"
    expect_same "The files of pelmora" "$(printf '%s\n' \
        /usr/bin/pelmora \
        /usr/share/applications/pelmora.desktop \
        /usr/share/doc/pelmora/changelog.gz \
        /usr/share/doc/pelmora/copyright \
        /usr/share/icons/hicolor/128x128/apps/pelmora.png \
        /usr/share/icons/hicolor/256x256/apps/pelmora.png \
        /usr/share/icons/hicolor/48x48/apps/pelmora.png \
        /usr/share/icons/hicolor/scalable/apps/pelmora.svg \
        /usr/share/man/man1/pelmora.1.gz \
        /usr/share/metainfo/org.pelmora.Pelmora.metainfo.xml)" "$(files_of pelmora)"
    local path
    while read -r path; do
        [[ -s $root$path ]] || fail "$path is empty"
    done < <(files_of pelmora-scan; files_of pelmora)
    for program in pelmora pelmora-scan; do
        [[ -x $root/usr/bin/$program ]] || fail "/usr/bin/$program is not executable"
    done
    local size
    for size in 48 128 256; do
        file "$root/usr/share/icons/hicolor/${size}x${size}/apps/pelmora.png" |
            grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not $size pixels square"
    done

    # What the packages say of themselves.
    local package deb depends
    for package in "${packages[@]}"; do
        deb=$(package_file "$package")
        [[ $(dpkg-deb -f "$deb" Section) == video ]] || fail "$package: section is not video"
        [[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "$package: no maintainer"
        [[ -z $(dpkg-deb -f "$deb" Homepage) ]] || fail "$package: a homepage that does not exist"
        depends=$(dpkg-deb -f "$deb" Depends)
        for library in libavformat libavcodec libswscale libopencv-core libopencv-imgproc \
            libdate-tz; do
            [[ $depends == *"$library"* ]] || fail "$package: Depends lacks $library: $depends"
        done
        # The guide is shown with Qt's own rich text: no browser engine comes with the programs.
        # Video and masks are read with FFmpeg's libraries and shown with Qt: the imaging
        # library's video input, picture files and display windows are not needed.
        for library in libqt5webkit5 libopencv-videoio libopencv-imgcodecs libopencv-highgui; do
            [[ $depends != *"$library"* ]] || fail "$package: Depends has $library: $depends"
        done
    done
    # The command-line tool is for machines without a display: nothing graphical.
    depends=$(dpkg-deb -f "$(package_file pelmora-scan)" Depends)
    local graphical
    graphical=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ *([^ ]+).*/\1/' |
        grep -E '^(libqt|qt|libx|libgl|libegl|libgtk|libwayland|libmesa|libdrm)' || true)
    [[ -z $graphical ]] || fail "pelmora-scan depends on graphical libraries:" $graphical
    depends=$(dpkg-deb -f "$(package_file pelmora)" Depends)
    [[ $depends == *libqt5widgets5* ]] || fail "pelmora: Depends lacks libqt5widgets5: $depends"
    [[ $depends == *"pelmora-scan (= $version)"* ]] ||
        fail "pelmora does not depend on pelmora-scan $version: $depends"

    # One version everywhere: the packages, the metadata's latest release, the changelogs.
    grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.pelmora.Pelmora.metainfo.xml" ||
        fail "the AppStream metadata has no release $version"
    for package in "${packages[@]}"; do
        zcat "$root/usr/share/doc/$package/changelog.gz" | head -n 1 | grep -q "^pelmora ($version) " ||
            fail "the changelog of $package does not start at $version"
    done
    echo "all files there"
}

check_lintian() {
    need lintian lintian
    # Warnings fail too: each one kept is overridden in the package, with the reason.
    local package
    for package in "${packages[@]}"; do
        lintian --fail-on error,warning --display-info "$(package_file "$package")"
    done
}

check_desktop() {
    need desktop-file-validate desktop-file-utils
    local entry=$root/usr/share/applications/pelmora.desktop
    local said
    said=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $said"
    [[ -z $said ]] || fail "desktop-file-validate: $said"
    # A file manager passes the chosen file only through a field code, and offers the program
    # only for the types it lists.
    grep -q '^Exec=pelmora .*%[fF]' "$entry" || fail "Exec takes no file"
    grep -q '^MimeType=video/' "$entry" || fail "no video types"
    # The menu finds the icon only by the name the entry gives.
    local icon
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [[ -f $root/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no icon named $icon"
    # Software centres find the entry through the metadata.
    grep -q '<launchable type="desktop-id">pelmora.desktop</launchable>' \
        "$root"/usr/share/metainfo/*.metainfo.xml || fail "the metadata launches another entry"
    echo "desktop entry valid"
}

check_appstream() {
    need appstreamcli appstream
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
}

check_version() {
    local program said
    for program in pelmora-scan pelmora; do
        said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version)
        [[ $said == "$program $version" ]] || fail "$program --version says '$said'"
        echo "$said"
    done
}

# The options of a help text that state a range, one a line: the long name, the range's ends
# and the default, as in "--threshold 0 50 20", from an option's "(0..50, default 20)". An
# option's help may wrap onto lines further in than its names.
help_ranges() {
    awk '
        /^ +-/ { if (entry != "") print entry; entry = $0; next }
        /^ +[^ ]/ && entry != "" { sub(/^ +/, " "); entry = entry $0; next }
        { if (entry != "") print entry; entry = "" }
        END { if (entry != "") print entry }
    ' | sed -nE 's/^ +(-[A-Za-z], )?(--[A-Za-z][A-Za-z-]*).*\(([0-9]+)\.\.([0-9]+)[^)]*, default:? ([^)]*)\).*$/\2 \3 \4 \5/p'
}

# A rendered manual page's entry for the option, on one line: from the line that names it to
# the next entry.
manual_entry() {
    awk -v name="$1" '
        /^       [^ ]/ { inside = (index($0 " ", name " ") > 0) }
        inside && NF { sub(/^ +/, ""); printf "%s ", $0 }
    '
}

check_manual() {
    need man man-db
    # The extraction must keep working for another parser's help layout.
    local sample='Usage: pelmora-scan [OPTIONS] VIDEO...
Options:
  -h,--help                   Print this help message and exit
  -t,--threshold INT:INT in [0 - 50] [20]
  --shard TEXT:K/N            keep the videos K modulo N, e.g. 0/3
  --version                   Display program version information and exit'
    expect_same "Options read from a sample help text" \
        "$(printf '%s\n' --help --shard --threshold --version -h -t)" \
        "$(options_in <<<"$sample")"

    local help manual
    help=$("$root/usr/bin/pelmora-scan" --help | options_in)
    manual=$(render_manual "$root/usr/share/man/man1/pelmora-scan.1.gz" | section OPTIONS |
        options_in)
    [[ $help == *--help* && $help == *--version* ]] || fail "no options read from --help: $help"
    expect_same "The options of --help (<) and of the manual page (>)" "$help" "$manual"
    echo "manual page and --help list the same options:" $help

    # The ranges and defaults --help states are those the manual page gives.
    local sample_help='Options:
  -t, --threshold N     a colour difference above N counts as change (0..50,
                        default 20)
      --event-gap SECONDS
                        snapshots no more than SECONDS apart (a gap) belong to
                        one event (0..86400, to the millisecond, default 2)
  -j, --jobs N          write on N threads (1..64, default: one for each processor)
  -q, --quiet           print nothing (default: everything)'
    expect_same "Ranges read from a sample help text" \
        "$(printf '%s\n' '--threshold 0 50 20' '--event-gap 0 86400 2' \
            '--jobs 1 64 one for each processor')" "$(help_ranges <<<"$sample_help")"
    local sample_manual='OPTIONS
       -t, --threshold N
              A difference above N counts: a whole number from 0 to 50; the default is 20.

       --event-gap SECONDS
              Snapshots no more than SECONDS apart belong to one event.
              From 0 to 86400; the default is 2.'
    expect_same "A sample manual page's entry" \
        "-t, --threshold N A difference above N counts: a whole number from 0 to 50; the default is 20. " \
        "$(manual_entry --threshold <<<"$sample_manual")"

    local ranges name minimum maximum default entry options_section
    ranges=$("$root/usr/bin/pelmora-scan" --help | help_ranges)
    [[ $(grep -c . <<<"$ranges") -ge 5 ]] || fail "no ranges read from --help: $ranges"
    options_section=$(render_manual "$root/usr/share/man/man1/pelmora-scan.1.gz" | section OPTIONS)
    while read -r name minimum maximum default; do
        entry=$(manual_entry "$name" <<<"$options_section")
        entry=${entry,,}
        [[ $entry == *"from $minimum to $maximum"[^0-9]* ]] ||
            fail "--help gives $name the range $minimum..$maximum, its manual entry does not: $entry"
        [[ $entry == *"the default is ${default,,}"[.\;,]* ]] ||
            fail "--help gives $name the default '$default', its manual entry does not: $entry"
    done <<<"$ranges"
    echo "manual page and --help give the same ranges and defaults:" $(cut -d ' ' -f 1 <<<"$ranges")

    # Neither page makes groff or man complain.
    local page said
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        said=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [[ -z $said ]] || fail "$(basename "$page"): $said"
    done
}

# What Tab offers after the words given (the last one is being typed), one a line, sorted.
completions() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        shift
        function=$(complete -p pelmora-scan | sed -E "s/.* -F ([^ ]+) .*/\1/")
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        "$function" pelmora-scan "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"
    ' _ "$root/usr/share/bash-completion/completions/pelmora-scan" "$@" 2>/dev/null | sed '/^$/d' | sort
}

check_completion() {
    [[ -f /usr/share/bash-completion/bash_completion ]] ||
        fail "bash completion is missing: install the Debian package bash-completion"
    local folder=$work/completion
    rm -rf "$folder"
    mkdir -p "$folder/sub"
    touch "$folder/clip.avi" "$folder/CAM.MP4" "$folder/-night.avi" "$folder/notes.txt" \
        "$folder/yard.png" "$folder/ROAD.JPG"
    cd "$folder"
    export PATH=$root/usr/bin:$PATH
    local videos
    videos=$(printf '%s\n' -night.avi CAM.MP4 clip.avi sub | sort)

    # Every long option of --help, and nothing --help does not list.
    local help offered
    help=$(pelmora-scan --help | options_in)
    offered=$(completions pelmora-scan -)
    expect_same "Long options of --help (<) and completed (>)" "$(grep -- '^--' <<<"$help")" \
        "$(grep -- '^--' <<<"$offered")"
    expect_same "Options completed that --help does not list" "" "$(comm -13 <(echo "$help") <(echo "$offered"))"

    expect_same "Videos completed" "$videos" "$(completions pelmora-scan '')"
    expect_same "Videos completed after --" "-night.avi" "$(completions pelmora-scan -- -)"
    expect_same "Folders completed for -o" "sub" "$(completions pelmora-scan -o '')"
    expect_same "Folders completed for --output=" "sub" "$(completions pelmora-scan --output=)"
    expect_same "Completed for a threshold" "" "$(completions pelmora-scan -t '')"
    expect_same "Completed for an event gap" "" "$(completions pelmora-scan --event-gap '')"
    expect_same "Completed for a trigger size" "" "$(completions pelmora-scan --min-pixels '')"
    expect_same "Pictures completed for --mask" "$(printf '%s\n' ROAD.JPG sub yard.png | sort)" \
        "$(completions pelmora-scan --mask '')"
    expect_same "Pictures completed for --mask=" "$(printf '%s\n' ROAD.JPG sub yard.png | sort)" \
        "$(completions pelmora-scan --mask=)"
    echo "completion offers the options, videos and folders"
}

case ${1:-} in
    build) check_build ;;
    contents) check_contents ;;
    lintian) check_lintian ;;
    desktop) check_desktop ;;
    appstream) check_appstream ;;
    version) check_version ;;
    manual) check_manual ;;
    completion) check_completion ;;
    *) fail "usage: $0 build|contents|lintian|desktop|appstream|version|manual|completion" ;;
esac
