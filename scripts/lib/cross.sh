# Shared by the scripts that cross-build the Windows side's libraries (scripts/lib/cross-*):
# Debian's own source packages, fetched through apt with a private deb-src list (the system's
# sources stay as they are), and a cache outside the build folder keyed by version and options.

# Where the cross-built libraries live; a second run and a second clone reuse them.
koru_cross_cache() {
    echo "${KORU_CROSS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/koru/win64}"
}

# The mingw-w64 tools of the Windows build (posix thread model, as cmake/mingw-w64-x86_64.cmake).
KORU_MINGW_HOST=x86_64-w64-mingw32
KORU_MINGW_CC=x86_64-w64-mingw32-gcc-posix
KORU_MINGW_CXX=x86_64-w64-mingw32-g++-posix

# A short key of a text (configure options, patches): part of a cache folder's name.
koru_cross_key() {
    printf '%s' "$1" | sha256sum | cut -c1-12
}

# The deb-src lines for the archive this machine installs from: the same suites as its
# deb entries, so a source package matches the binary packages' version.
koru_cross_write_sources() {
    local out=$1 uris suites
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources | head -1)
        suites=$(awk '/^URIs:/ && $2 == "'"$uris"'" {f=1} f && /^Suites:/ {sub(/^Suites:[[:space:]]*/, ""); print; exit}' \
            /etc/apt/sources.list.d/debian.sources)
    fi
    if [ -z "${uris:-}" ] && [ -f /etc/apt/sources.list ]; then
        read -r uris suites < <(awk '$1 == "deb" && $2 !~ /security/ {print $2, $3; exit}' /etc/apt/sources.list)
    fi
    uris=${uris:-http://deb.debian.org/debian}
    suites=${suites:-bookworm}
    local suite
    : >"$out"
    for suite in $suites; do
        echo "deb-src $uris $suite main" >>"$out"
    done
}

# Fetches and unpacks Debian's source package PACKAGE at VERSION (with Debian's patches applied)
# into DEST, unless DEST already holds it. apt runs with a private list and state folder under
# the cache, so the machine's own apt set-up is never touched.
koru_cross_source() {
    local package=$1 version=$2 dest=$3
    [ -f "$dest/.koru-unpacked" ] && return 0
    local cache apt_dir work
    cache=$(koru_cross_cache)
    apt_dir="$cache/apt"
    mkdir -p "$apt_dir/lists/partial" "$cache/sources"
    koru_cross_write_sources "$apt_dir/sources.list"
    local apt_opts=(
        -o "Dir::Etc::SourceList=$apt_dir/sources.list"
        -o "Dir::Etc::SourceParts=/nonexistent"
        -o "Dir::State::Lists=$apt_dir/lists"
        -o "Debug::NoLocking=1"
        -o "APT::Sandbox::User=root"
    )
    if ! ls "$apt_dir"/lists/*Sources* >/dev/null 2>&1; then
        timeout -k 10 600 apt-get "${apt_opts[@]}" update -q
    fi
    work=$(mktemp -d "$cache/sources/.fetch.XXXXXX")
    if ! (cd "$work" && timeout -k 10 1200 apt-get "${apt_opts[@]}" source --download-only -q "$package=$version"); then
        # The list may be older than the archive: read it again once.
        timeout -k 10 600 apt-get "${apt_opts[@]}" update -q
        (cd "$work" && timeout -k 10 1200 apt-get "${apt_opts[@]}" source --download-only -q "$package=$version")
    fi
    rm -rf "$dest"
    (cd "$work" && timeout -k 10 600 dpkg-source --no-check -x ./*.dsc "$dest") >/dev/null
    rm -rf "$work"
    touch "$dest/.koru-unpacked"
}

# The version of an installed Debian package, or of the candidate when it is not installed.
koru_deb_version() {
    dpkg-query -W -f='${Version}' "$1" 2>/dev/null ||
        apt-cache policy "$1" | sed -n 's/^ *Candidate: *//p'
}
