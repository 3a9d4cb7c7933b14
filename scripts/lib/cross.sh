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

# The deb-src lines for the Debian archives this machine installs from (the main archive and
# its security archive): the same suites as their deb entries, so a source package matches the
# binary packages' version, security updates included. Other vendors' lists are left out.
koru_cross_write_sources() {
    local out=$1 f
    : >"$out"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # One stanza per blank-line-separated block: its URIs and Suites, if its Types has deb.
        awk '
            function flush() {
                if (deb && uri ~ /\/debian(-security)?\/?$/)
                    for (i = 1; i <= n; i++) print "deb-src " uri " " s[i] " main"
                deb = 0; uri = ""; n = 0
            }
            /^[[:space:]]*$/ { flush(); next }
            /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { n = 0; for (i = 2; i <= NF; i++) s[++n] = $i }
            END { flush() }
        ' "$f" >>"$out"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        # A line's options in brackets ("deb [signed-by=...] URI SUITE ...") are skipped.
        awk '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) while (i <= NF && $i !~ /\]$/) i++
            if ($i ~ /^\[|\]$/) i++
            if ($i ~ /\/debian(-security)?\/?$/) print "deb-src", $i, $(i + 1), "main"
        }' "$f" >>"$out"
    done
    if [ ! -s "$out" ]; then
        echo "deb-src http://deb.debian.org/debian bookworm main" >"$out"
    fi
    sort -u -o "$out" "$out"
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
    # Each step's failure returns at once: callers may run this where set -e does not hold.
    work=$(mktemp -d "$cache/sources/.fetch.XXXXXX") || return 1
    if ! (cd "$work" && timeout -k 10 1200 apt-get "${apt_opts[@]}" source --download-only -q "$package=$version"); then
        # The list may be older than the archive: read it again once.
        timeout -k 10 600 apt-get "${apt_opts[@]}" update -q || true
        if ! (cd "$work" && timeout -k 10 1200 apt-get "${apt_opts[@]}" source --download-only -q "$package=$version"); then
            rm -rf "$work"
            return 1
        fi
    fi
    rm -rf "$dest"
    if ! (cd "$work" && timeout -k 10 600 dpkg-source --no-check -x ./*.dsc "$dest") >/dev/null; then
        rm -rf "$work" "$dest"
        return 1
    fi
    rm -rf "$work"
    touch "$dest/.koru-unpacked"
}

# The version of an installed Debian package, or of the candidate when it is not installed.
koru_deb_version() {
    dpkg-query -W -f='${Version}' "$1" 2>/dev/null ||
        apt-cache policy "$1" | sed -n 's/^ *Candidate: *//p'
}

# Fetches Debian's source package PACKAGE, preferably at version WANTED (that of the installed
# binary package), into $(koru_cross_cache)/sources/PACKAGE-VERSION and prints the version it
# unpacked. Where WANTED cannot be fetched (a mirror without the security archive's sources),
# the newest other version the lists name is taken instead, saying so on stderr.
koru_cross_source_near() {
    local package=$1 wanted=$2 cache version
    cache=$(koru_cross_cache)
    if [ -f "$cache/sources/$package-$wanted/.koru-unpacked" ]; then
        echo "$wanted"
        return 0
    fi
    if koru_cross_source "$package" "$wanted" "$cache/sources/$package-$wanted" >&2; then
        echo "$wanted"
        return 0
    fi
    local apt_opts=(
        -o "Dir::Etc::SourceList=$cache/apt/sources.list"
        -o "Dir::Etc::SourceParts=/nonexistent"
        -o "Dir::State::Lists=$cache/apt/lists"
    )
    for version in $(apt-cache "${apt_opts[@]}" showsrc "$package" 2>/dev/null |
        sed -n 's/^Version: //p' | sort -u -r -V); do
        [ "$version" = "$wanted" ] && continue
        echo "-- $package $wanted cannot be fetched here: using Debian's $package $version" >&2
        if koru_cross_source "$package" "$version" "$cache/sources/$package-$version" >&2; then
            echo "$version"
            return 0
        fi
    done
    echo "No source of Debian's $package could be fetched" >&2
    return 1
}

# Holds an exclusive lock named NAME in the cache for the rest of the calling script (bounded
# wait), so two builds of one library never share a build folder; the caller then checks
# again whether the other one has built it meanwhile.
koru_cross_lock() {
    local cache
    cache=$(koru_cross_cache)
    mkdir -p "$cache"
    exec {koru_cross_lock_fd}>"$cache/.lock-$1"
    if ! flock -w 7200 "$koru_cross_lock_fd"; then
        echo "another build of $1 held its lock for two hours: giving up" >&2
        return 1
    fi
}
