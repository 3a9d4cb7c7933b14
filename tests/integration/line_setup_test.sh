#!/usr/bin/env bash
# The README's set-up of a line of PCs, run as written against a PostgreSQL server this script
# starts (Debian's postgresql: initdb and pg_ctl in a temporary folder, a Unix socket there and no
# TCP port): the role and the database made with createuser and createdb, the password in libpq's
# password file, "linedb" pointing at the database, then a counter job defined, a chip programmed
# through the simulator, the job's status, the value found and the line's report. Then peer
# authentication with a user-name map in place of the password file, and a password given in a
# URI, right or wrong: it never shows in any output, record or report.
#   line_setup_test.sh KORU_CLI KORU_SIM README SAMPLE_HEX
set -uo pipefail

cli=$1
sim=$2
readme=$3
sample=$4

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
    echo "SKIPPED: PostgreSQL's server programs are not installed (Debian package postgresql)"
    exit 77
fi

# The README's commands this script runs; each must still be there, word for word.
readme_lines=(
    "sudo -u postgres createuser --pwprompt koru"
    "sudo -u postgres createdb --owner koru koruline"
    "echo 'dbserver:5432:koruline:koru:SECRET' >> ~/.pgpass && chmod 600 ~/.pgpass"
    '#   "linedb"="postgresql://koru@dbserver/koruline"'
    "koru-cli serial define SN --at 1F00 --size 4 --format bcd --start 1000 --last 1999"
    "koru-cli report --db postgresql://koru@dbserver/koruline"
)
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
for line in "${readme_lines[@]}"; do
    grep -qF -- "$line" "$readme" || fail "the README no longer says: $line"
done

work=$(mktemp -d /tmp/koru-line-XXXXXX)
chmod 755 "$work"
sock=$work/pg
mkdir -p "$sock" "$work/home" "$work/config/lumatrix"
# As root the server runs as Debian's own "postgres" user, as a packaged cluster does, and
# "sudo -u postgres" becomes runuser; as anyone else it runs as that user, whose name is then
# the superuser's role.
if [ "$(id -u)" -eq 0 ] && id postgres >/dev/null 2>&1; then
    as_postgres=(runuser -u postgres --)
    super=postgres
    chown postgres "$sock"
else
    as_postgres=()
    super=$(id -un)
fi
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    timeout 60 "${as_postgres[@]}" "$bin/pg_ctl" -D "$sock/data" -w -t 30 -m fast stop >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# The server: local connections only, peer authentication for its superuser, passwords
# (SCRAM) for everyone else; no TCP port at all.
if ! timeout 60 "${as_postgres[@]}" "$bin/initdb" -D "$sock/data" -U "$super" --no-sync \
    --auth-local=peer --auth-host=reject >"$work/initdb.log" 2>&1; then
    cat "$work/initdb.log"
    echo "FAIL: initdb"
    exit 1
fi
write_hba() {
    printf '%s\n' "$@" | "${as_postgres[@]}" tee "$sock/data/pg_hba.conf" >/dev/null
}
write_hba "local all $super peer" "local koruline koru scram-sha-256"
if ! timeout 60 "${as_postgres[@]}" "$bin/pg_ctl" -D "$sock/data" -l "$sock/server.log" -w -t 30 \
    -o "-k $sock -c listen_addresses='' -c fsync=off" start >"$work/pg_ctl.log" 2>&1; then
    cat "$work/pg_ctl.log" "$sock/server.log" 2>/dev/null
    echo "FAIL: the server did not start"
    exit 1
fi

secret="Line-$$-pw"
export PATH="$bin:$PATH" PGHOST=$sock
# On the server (README): createuser asks for the password twice on the terminal; without
# one (setsid), it reads standard input.
printf '%s\n%s\n' "$secret" "$secret" |
    timeout 30 setsid -w "${as_postgres[@]}" env PATH="$PATH" PGHOST="$PGHOST" \
        createuser --pwprompt koru >"$work/createuser.log" 2>&1 ||
    fail "createuser: $(cat "$work/createuser.log")"
timeout 30 "${as_postgres[@]}" env PATH="$PATH" PGHOST="$PGHOST" \
    createdb --owner koru koruline >"$work/createdb.log" 2>&1 ||
    fail "createdb: $(cat "$work/createdb.log")"

# On each PC: the password in ~/.pgpass; over a socket its host field is the socket's folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
unset KORU_DB PGPASSWORD PGPASSFILE PGUSER PGDATABASE
echo "$sock:5432:koruline:koru:$secret" >>~/.pgpass && chmod 600 ~/.pgpass
uri="postgresql://koru@/koruline?host=$sock"
printf '[HKEY_CURRENT_USER\\Software\\lumatrix]\n"linedb"="%s"\n' "$uri" \
    >"$XDG_CONFIG_HOME/lumatrix/settings.reg"

"$sim" --fast --mtp --size 0x2000 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q 'export KORU_COM1=' "$work/sim.log" && break
    sleep 0.1
done
KORU_COM1=$(sed -n 's/.*export KORU_COM1=//p' "$work/sim.log")
[ -n "$KORU_COM1" ] || { cat "$work/sim.log"; echo "FAIL: the simulator did not start"; exit 1; }
export KORU_COM1

step=0
# koru-cli with its words; status, output and error kept as $work/N.status|out|err.
run() {
    step=$((step + 1))
    timeout 60 "$cli" "$@" >"$work/$step.out" 2>"$work/$step.err"
    echo $? >"$work/$step.status"
}
expect() {  # expect STATUS TEXT: the last run's status, and TEXT in its output or error
    local status
    status=$(cat "$work/$step.status")
    if [ "$status" != "$1" ] || ! grep -qF -- "$2" "$work/$step.out" "$work/$step.err"; then
        fail "step $step: expected status $1 and \"$2\", got $status:"
        sed 's/^/    /' "$work/$step.out" "$work/$step.err"
    fi
}

# "linedb" names the database: no --db on these.
run serial define SN --at 1F00 --size 4 --format bcd --start 1000 --last 1999
expect 0 "defined SN: counter bcd from 1000 step 1 to 1999, 4 bytes at 01F00"
run --serial SN --port COM1 --mtp --erase --verify --range 0000-1FFF program "$sample"
expect 0 "序列号 1000, 下一个 1001"
run serial status SN
expect 0 "next 1001, spent 1 (passed 1, failed 0), left 999"
run serial find 00001000
expect 0 "passed"
run report --db "$uri"
expect 0 "records 1"
run report --db "$uri" --html "$work/line.html"
expect 0 "host $(uname -n):"
grep -qF "<th>PC (1)</th>" "$work/line.html" 2>/dev/null || fail "the page names no PC"

# Without the password file the same URI gets nowhere: the file was what let it in.
mv ~/.pgpass ~/.pgpass.kept
run serial status SN
expect 3 "line database cannot be used"

# Peer authentication instead: no password, the PC's user mapped to the role koru.
write_hba "local all $super peer" "local koruline koru peer map=line"
printf 'line %s koru\n' "$(id -un)" | "${as_postgres[@]}" tee "$sock/data/pg_ident.conf" >/dev/null
timeout 30 "${as_postgres[@]}" "$bin/pg_ctl" -D "$sock/data" reload >/dev/null 2>&1
sleep 2  # the server rereads its files on the signal pg_ctl sends
run report --db "$uri"
expect 0 "records 1"

# A password in the URI works where the server asks for one, and never shows; a wrong one, or
# one the client library cannot read, is refused without showing it either.
write_hba "local all $super peer" "local koruline koru scram-sha-256"
timeout 30 "${as_postgres[@]}" "$bin/pg_ctl" -D "$sock/data" reload >/dev/null 2>&1
sleep 2  # the server rereads its files on the signal pg_ctl sends
with_password="postgresql://koru:$secret@/koruline?host=$sock"
run --db "$with_password" serial status SN
expect 0 "next 1001"
run --db "$with_password" --serial SN --port COM1 --mtp --erase --verify --range 0000-1FFF program "$sample"
expect 0 "序列号 1001"
run --db "$with_password" report --html "$work/secret.html"
expect 0 "records 2"
grep -qF "postgresql://koru:***@/koruline" "$work/secret.html" 2>/dev/null || fail "the page names no database"
run --db "postgresql://koru:wrong-$secret@/koruline?host=$sock" sync
expect 3 "password authentication failed"
run --db "postgresql://koru:$secret%zz@/koruline?host=$sock" serial status
expect 3 "invalid percent-encoded token"
records=("$XDG_STATE_HOME"/lumatrix/production/*.jsonl)
[ -f "${records[0]}" ] || fail "no production record was written"
for file in "$work"/*.out "$work"/*.err "$work"/*.html "${records[@]}" "$XDG_STATE_HOME"/lumatrix/*.jsonl; do
    [ -f "$file" ] && grep -qF -- "$secret" "$file" && fail "the password shows in $file"
done

[ "$failures" -eq 0 ] && echo "the README's line set-up works as written: $step koru-cli runs"
[ "$failures" -eq 0 ]
