# Shared by scripts/lib/wine-run and the Windows stage of scripts/test: Wine only ever runs in a
# private mount namespace whose /dev holds no serial port. Wine maps every /dev/ttyS*, ttyUSB*
# and ttyACM* it sees to a COM port when its server starts, and on a build machine /dev/ttyS0
# may be the system console.

# The device files a Wine process and the simulator need, and nothing else; ptmx comes with a
# pseudo-terminal instance of the namespace's own.
KORU_PRIVATE_DEV_NODES=(null zero random urandom tty)
KORU_PRIVATE_DEV_MARK=.koru-private-dev

# True inside a namespace made by koru_make_private_dev.
koru_in_private_dev() {
    [ -e "/dev/$KORU_PRIVATE_DEV_MARK" ]
}

# Refuses (non-zero, with the reason) when any serial device is visible.
koru_check_no_serial_ports() {
    local seen
    seen=$(find /dev -maxdepth 1 \( -name 'ttyS*' -o -name 'ttyU*' -o -name 'ttyA*' \) -print -quit)
    if [ -n "$seen" ]; then
        echo "koru: $seen is visible: refusing to start Wine where it would map a serial port" >&2
        return 1
    fi
}

# In a fresh mount namespace (unshare --mount, as root): replaces /dev by a tmpfs holding only
# the nodes above, a private pseudo-terminal instance (pts, ptmx) and shared memory. Nothing
# leaves the namespace.
koru_make_private_dev() {
    mount --make-rprivate /
    local stage node
    stage=$(mktemp -d /tmp/koru-dev.XXXXXX)
    mount -t tmpfs -o mode=0755,nosuid koru-dev "$stage"
    for node in "${KORU_PRIVATE_DEV_NODES[@]}"; do
        touch "$stage/$node"
        mount --bind "/dev/$node" "$stage/$node"
    done
    mkdir "$stage/pts" "$stage/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 koru-pts "$stage/pts"
    ln -s pts/ptmx "$stage/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev koru-shm "$stage/shm"
    touch "$stage/$KORU_PRIVATE_DEV_MARK"
    mount --move "$stage" /dev
    rmdir "$stage"
    koru_check_no_serial_ports
}

# The environment of every Wine process: the build's own prefix, 64-bit, quiet, no window, no
# .NET or HTML engine to install, no debugger that waits on a crash.
koru_wine_env() {
    mkdir -p "$1"
    WINEPREFIX=$(cd "$1" && pwd)
    export WINEPREFIX
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export WINEPATH
    WINEPATH=$(koru_wine_dll_path)
    unset DISPLAY WAYLAND_DISPLAY
}

# Wine's search path for DLLs (';' between Windows paths): the mingw-w64 runtime the programs
# are linked against, then the folders of KORU_WINE_DLL_DIRS (':' between Linux paths), such
# as the bin folders of the cross-built libraries.
koru_wine_dll_path() {
    local dirs=() dll dir path=
    for dll in libstdc++-6.dll libwinpthread-1.dll; do
        dir=$(dirname "$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll" 2>/dev/null || echo .)")")
        dirs+=("$dir")
    done
    local extra
    IFS=: read -r -a extra <<<"${KORU_WINE_DLL_DIRS:-}"
    dirs+=("${extra[@]}")
    for dir in "${dirs[@]}"; do
        [ -d "$dir" ] || continue
        path+="${path:+;}Z:${dir//\//\\}"
    done
    echo "$path"
}

# koru_start_sim SIM LOG [ARGS...]: koru-sim (a Linux program) on a pseudo-terminal of its own,
# in the background, its output in LOG; sets sim_pid and sim_pty (the terminal's path to map to
# a COM port), or returns 1 when it named no terminal within 10 s. The simulator answers at
# once and the programmer's time-outs are made for that: on a loaded machine it runs at a
# raised priority (as root; otherwise nice says so and runs it as it is).
koru_start_sim() {
    local sim=$1 log=$2
    shift 2
    nice -n -10 "$sim" "$@" --own-terminal >"$log" 2>&1 &
    sim_pid=$!
    sim_pty=
    local _
    for _ in $(seq 100); do
        sim_pty=$(sed -n 's/^KORU programmer simulator on //p' "$log")
        [ -n "$sim_pty" ] && return 0
        sleep 0.1
    done
    return 1
}
