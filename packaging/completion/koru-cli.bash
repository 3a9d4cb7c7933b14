# bash completion for koru-cli: its commands, options, protection kinds, port names and files.

# COM1 to COM4, then every device path that `koru-cli ports` lists where that command exists.
_koru_cli_ports() {
    printf '%s\n' COM1 COM2 COM3 COM4
    local cli=$1
    if command -v timeout >/dev/null 2>&1; then
        timeout 3 "$cli" ports 2>/dev/null </dev/null | grep -o '/dev/[^[:space:],]*'
    else
        "$cli" ports 2>/dev/null </dev/null | grep -o '/dev/[^[:space:],]*'
    fi
}

_koru_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands='probe blank-check checksum image-checksum verify read erase protect program ports report serial sync job'
    local options='--port --repeat --log --csv --html --otp --mtp --range --fast --slow --blank-check --erase --verify
        --read-protect --ldc-protect --hw-protect --smart --yes --beep --quiet --events --help --serial --db --json --force
        --at --size --format --start --step --last --list --command --job --confirm --lot --code --quota --lock
        --password-file --name --description --by'
    local IFS=$'\n'
    COMPREPLY=()

    # The koru-cli being completed when it was typed as a path, else the one on PATH.
    local cli=${COMP_WORDS[0]}
    [[ $cli == */* && -x $cli ]] || cli=koru-cli

    case $prev in
        --port)
            # program takes several ports separated by commas: complete the last one.
            local before=''
            [[ $cur == *,* ]] && before=${cur%,*},
            COMPREPLY=($(compgen -P "$before" -W "$(_koru_cli_ports "$cli" | sort -u)" -- "${cur##*,}"))
            return
            ;;
        --format)
            IFS=$' \t\n'
            COMPREPLY=($(compgen -W 'le be bcd ascii hex' -- "$cur"))
            return
            ;;
        --events)
            COMPREPLY=($(compgen -W 'jsonl' -- "$cur"))
            return
            ;;
        --serial | --db | --at | --size | --start | --step | --last | --command | --confirm | --lot | --quota | \
            --name | --description | --by)
            return
            ;;
        --log | --html | --list | --job | --code | --password-file)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --range)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        IFS=$' \t\n'
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # The command word typed so far and the words after it; option values are skipped.
    local i command='' after=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --port | --range | --log | --html | --serial | --db | --at | --size | --format | --events | --start | \
                --step | --last | --list | --command | --job | --confirm | --lot | --code | --quota | \
                --password-file | --name | --description | --by) ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${COMP_WORDS[i]}
                else
                    ((after++))
                fi
                ;;
        esac
    done

    if [[ -z $command ]]; then
        IFS=$' \t\n'
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == report ]] || [[ $command == job && $after == 1 ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    elif ((after == 0)); then
        case $command in
            protect)
                IFS=$' \t\n'
                COMPREPLY=($(compgen -W 'read ldc hw' -- "$cur"))
                ;;
            serial)
                IFS=$' \t\n'
                COMPREPLY=($(compgen -W 'define status release find' -- "$cur"))
                ;;
            job)
                IFS=$' \t\n'
                COMPREPLY=($(compgen -W 'create show' -- "$cur"))
                ;;
            image-checksum | verify | program | read)
                compopt -o filenames 2>/dev/null
                COMPREPLY=($(compgen -f -- "$cur"))
                ;;
        esac
    fi
}

complete -F _koru_cli koru-cli
