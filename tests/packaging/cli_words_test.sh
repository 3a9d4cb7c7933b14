#!/usr/bin/env bash
# The words of koru-cli --help against the manual page and the shell completions, so that none
# of them drifts from the program: every command and option the help names must be in the
# manual page, offered by the bash completion and known to the zsh one, and the bash
# completion offers nothing the help does not name. Also checks what bash offers for a port,
# a protection kind and a file.
#   cli_words_test.sh KORU_CLI PACKAGING_DIR
set -uo pipefail

cli=$1
packaging=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

help=$("$cli" --help) || fail "koru-cli --help exited with $?"
section() { # the lines of the help between "$1:" and the next blank line
    awk -v head="$1:" '$0 == head { on = 1; next } on && /^$/ { exit } on' <<<"$help"
}
# A command's line starts two spaces in; the lines that go on explaining start further in.
help_commands=$(section commands | awk '/^  [a-z]/ { print $1 }' | sort -u)
help_options=$(section options | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
help_statuses=$(section 'exit status' | awk '$1 ~ /^[0-9]+$/ { print $1 }')
[ "$(wc -l <<<"$help_commands")" -ge 9 ] || fail "too few commands read from --help: $help_commands"
[ "$(wc -l <<<"$help_options")" -ge 16 ] || fail "too few options read from --help: $help_options"
[ -n "$help_statuses" ] || fail "no exit statuses read from --help"

# The manual page's text with the roff escapes for '-' and fonts taken out.
page=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$packaging/man/koru-cli.1")
for word in $help_commands $help_options; do
    grep -qE "(^|[ \"])$word([ \",]|$)" <<<"$page" || fail "manual page lacks $word"
done
statuses=$(awk '/^\.SH EXIT STATUS/ { on = 1; next } /^\.SH/ { on = 0 } on && /^\.B [0-9]+$/ { print $2 }' \
    "$packaging/man/koru-cli.1")
[ "$statuses" = "$help_statuses" ] || fail "manual exit statuses '$statuses' are not the help's '$help_statuses'"
grep -q 'while printf' <<<"$page" || fail "manual page lacks the production loop"

# What the bash completion offers for the words typed so far; the last word is the one completed.
source "$packaging/completion/koru-cli.bash"
offered() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _koru_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort -u
}
[ "$(offered '')" = "$help_commands" ] || fail "bash offers commands '$(offered '' | xargs)'"
[ "$(offered -)" = "$help_options" ] || fail "bash offers options '$(offered - | xargs)'"
[ "$(offered --port /dev/x --otp '')" = "$help_commands" ] || fail "bash loses the command after --port"
[ "$(offered protect '' | xargs)" = "hw ldc read" ] || fail "bash offers '$(offered protect '' | xargs)' after protect"
[ -z "$(offered probe '')" ] || fail "bash offers words after probe"

# Ports: COM1..COM4 and whatever device paths this koru-cli's `ports` lists, never an error text.
ports=$(offered --port '')
for com in COM1 COM2 COM3 COM4; do
    grep -qx "$com" <<<"$ports" || fail "bash does not offer $com after --port"
done
grep -vxE 'COM[1-4]|/dev/.+' <<<"$ports" && fail "bash offers a non-port after --port"

# Files after the commands that take one.
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/firmware.hex"
[ "$(offered verify "$folder/firm")" = "$folder/firmware.hex" ] || fail "bash offers no code file after verify"

zsh_file="$packaging/completion/_koru-cli"
for word in $help_commands $help_options; do
    grep -qE "['()]$word(\\[|:)" "$zsh_file" || fail "zsh completion lacks $word"
done

[ "$failures" -eq 0 ] && echo "koru-cli's words agree with its manual page and completions"
exit $((failures != 0))
