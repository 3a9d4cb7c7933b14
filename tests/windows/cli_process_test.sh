#!/usr/bin/env bash
# koru-cli.exe as a process under Wine against koru-sim (a Linux program) on a pseudo-terminal
# that the prefix maps to COM12: probe, program 8 KiB, verify, read back and compare, a read
# that replaces the file, a probe of a port that does not exist, and a gang of COM12 and a
# second simulator on COM15. Exit 77 (skipped) when no simulator is given.
#   cli_process_test.sh KORU_CLI_EXE WINE_PREFIX      with KORU_TEST_SIM=path/to/koru-sim
set -euo pipefail
cli=$1
prefix=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/lib/wine.sh"
# The simulator stands for a device that answers at once, and the programmer's time-outs are
# made for that: on a loaded machine both sides run at a raised priority (as root; otherwise
# nice says so and runs them as they are).
run=(nice -n -10 "$here/../../scripts/lib/wine-run" "$prefix" "$cli")
sim=${KORU_TEST_SIM:-}
if [ -z "$sim" ]; then
    echo "SKIPPED: KORU_TEST_SIM names no koru-sim (scripts/test's Windows stage gives one)"
    exit 77
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
    # The Wine server goes first: a terminal hanging up under it makes it dump its objects.
    WINEPREFIX=$(cd "$prefix" && pwd) timeout -k 5 30 wineserver -k 2>/dev/null || true
    for pid in $sim_pid ${second_sim_pid:-}; do
        kill -TERM "$pid" 2>/dev/null && wait "$pid" || true
    done
    rm -rf "$work" "$prefix/dosdevices/com12" "$prefix/dosdevices/com15"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

koru_start_sim "$sim" "$work/sim.log" --fast --mtp || fail "koru-sim did not start: $(cat "$work/sim.log")"
pty=$sim_pty
if [ ! -d "$prefix/dosdevices" ]; then
    # A folder made here would pass for a whole prefix and stop Wine from making one.
    timeout -k 5 120 "${run[@]}" --help >/dev/null 2>&1 || true
fi
ln -sfn "$pty" "$prefix/dosdevices/com12"

# 8 KiB of code with no blank byte, so every address of the range counts.
bytes=""
for ((i = 0; i < 8192; i++)); do
    printf -v byte '\\x%02x' $(((i * 7 + i / 256 + 1) % 255))
    bytes+=$byte
done
printf "%b" "$bytes" >"$work/code.bin"
[ "$(stat -c %s "$work/code.bin")" -eq 8192 ] || fail "the code file is not 8 KiB"

# Runs koru-cli.exe in the scratch folder; the expected exit status first. Each run is bounded:
# a hang is a failure with its output, not the end of the test's whole time.
expect() {
    local want=$1 status=0 started=$SECONDS
    shift
    (cd "$work" && timeout -k 5 120 "${run[@]}" "$@") >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        fail "koru-cli $* did not end within 120 s: $(cat "$work/out" "$work/err")"
    fi
    if [ "$status" -ne "$want" ]; then
        fail "koru-cli $* exited $status, expected $want: $(cat "$work/out" "$work/err")"
    fi
    echo "ok: koru-cli $* (exit $status, $((SECONDS - started)) s)"
}

expect 0 --port COM12 probe
expect 2 --port COM13 probe
expect 0 --port COM12 --mtp --erase --verify --range 0000-1FFF program code.bin
expect 0 --port COM12 --range 0000-1FFF verify code.bin
expect 0 --port COM12 --range 0000-1FFF --yes read back.hex
objcopy -I ihex -O binary "$work/back.hex" "$work/back.bin" || fail "back.hex is not Intel HEX"
cmp "$work/code.bin" "$work/back.bin" || fail "the 8 KiB read back differ from what was programmed"
echo "ok: 8 KiB programmed, verified and read back through COM12"

# Saving over an existing file replaces it whole (a plain rename refuses that on Windows).
expect 0 --port COM12 --range 0000-00FF --yes read back.hex
objcopy -I ihex -O binary "$work/back.hex" "$work/back.bin" || fail "back.hex is not Intel HEX"
head -c 256 "$work/code.bin" | cmp - "$work/back.bin" || fail "the second read did not replace back.hex"
echo "ok: a second read replaced back.hex"

# A gang: one koru-cli.exe per port, started by the first, each chip programmed and verified.
first_sim_pid=$sim_pid
koru_start_sim "$sim" "$work/second-sim.log" --fast --mtp || true
second_sim_pid=$sim_pid
sim_pid=$first_sim_pid
[ -n "$sim_pty" ] || fail "the second koru-sim did not start: $(cat "$work/second-sim.log")"
ln -sfn "$sim_pty" "$prefix/dosdevices/com15"
expect 0 --port COM12,COM15 --mtp --erase --verify --range 0000-1FFF program code.bin
grep -q 'COM15' "$work/out" "$work/err" || fail "the gang's table names no COM15: $(cat "$work/out" "$work/err")"
expect 0 --port COM15 --range 0000-1FFF verify code.bin
echo "ok: a gang of COM12 and COM15 programmed both chips"

# A production job made from code.bin, which then changes on disk: a wrong checksum is refused
# before anything is sent (exit 3), the right one programs the job's bytes, and the record
# carries the job.
expect 0 job create board.korujob --code code.bin --range 0000-1FFF --mtp --erase --verify
checksum=$(sed -n 's/^job checksum: *\([0-9a-f]\{8\}\) .*/\1/p' "$work/out")
[ -n "$checksum" ] || fail "job create printed no checksum: $(cat "$work/out")"
cp "$work/code.bin" "$work/approved.bin"
printf '\x00' | dd of="$work/code.bin" bs=1 seek=16 conv=notrunc status=none
expect 0 job show board.korujob
grep -q "$checksum" "$work/out" || fail "job show names another checksum: $(cat "$work/out")"
expect 3 --port COM12 --job board.korujob --confirm 00000000 program
grep -q "$checksum" "$work/err" || fail "the refusal does not name the job's checksum: $(cat "$work/err")"
expect 0 --port COM12 --job board.korujob --confirm "$checksum" program
expect 0 --port COM12 --range 0000-1FFF verify approved.bin
echo "ok: job $checksum programmed its own bytes after code.bin changed on disk"
