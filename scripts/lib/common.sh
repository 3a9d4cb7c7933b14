# Shared by the scripts: the Debian packages the project needs and how to get them.

# Build (python3 draws the icons), tests, window, sound, koru-cli's option parser, fonts, the
# line database's libraries and the PostgreSQL server its tests start, and the outside judges
# used by the tests (objcopy).
KORU_PACKAGES=(
    cmake ninja-build g++ clang-format
    qt6-base-dev libgl-dev qt6-translations-l10n
    libgtest-dev libgmock-dev libbenchmark-dev
    libasound2-dev
    nlohmann-json3-dev libssl-dev libcli11-dev
    libsqlite3-dev libpq-dev postgresql
    fonts-wqy-microhei
    binutils
    python3
)

# The browser test of the HTML production report (tests/browser): headless Chromium draws the
# page. The test skips, saying so, where it is missing; scripts/test installs it.
KORU_BROWSER_PACKAGES=(
    chromium
)

# The Debian package stage (scripts/package and its checks in scripts/test): dpkg-shlibdeps,
# lintian and the validators of the menu entry and the AppStream metadata.
KORU_PACKAGE_PACKAGES=(
    dpkg-dev lintian desktop-file-utils appstream
)

# The Windows stage: the mingw-w64 cross compiler, Wine to run its programs, GoogleTest's sources;
# for the libraries cross-built from Debian's source packages (scripts/lib/cross-*): dpkg-source,
# make, perl (OpenSSL's configure), tcl (SQLite's amalgamation), xz, Qt's host tools and ccache;
# the PostgreSQL server and openssl (a test certificate) for koru-cli.exe's line database test;
# for the installer NSIS and groff (the manuals as text); for the installed window under Wine a
# virtual display, xdotool to drive it and ImageMagick's import for its screenshot.
KORU_WINDOWS_PACKAGES=(
    g++-mingw-w64-x86-64-posix
    wine64 wine
    googletest
    dpkg-dev make perl tcl xz-utils bzip2 qt6-base-dev-tools ccache
    postgresql openssl
    nsis groff-base
    xvfb xauth xdotool imagemagick
)

# The real-driver stage: QEMU for the guest, busybox as its userland, cpio for its initramfs,
# modinfo for the kernel modules' dependencies, socat for QEMU's monitor socket.
KORU_DRIVER_PACKAGES=(
    qemu-system-x86 busybox-static cpio kmod socat
)

koru_root() {
    cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd
}

# Installs whichever of the given Debian packages are missing: one apt-get update first, only
# when something is missing. Needs root (or sudo) only then.
koru_ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing missing packages: ${missing[*]}"
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            as_root=(sudo)
        else
            echo "These Debian packages are missing and this user cannot install them: ${missing[*]}" >&2
            return 1
        fi
    fi
    "${as_root[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}
