# Bash completion for vxlog: commands, options, record types (numbers,
# English names and captions, comma-separated), output formats, and files
# for --db and the other file options.
#
# Commands and options are read from the help of the vxlog being completed
# (`vxlog --help`, `vxlog COMMAND --help`), so they always match it; types
# and formats are listed here (tst_vxlog_completion checks them against vxlog).

_vxlog_help_commands()
{
    "$1" --help 2>/dev/null | sed -n 's/^  \([a-z][a-z-]*\)$/\1/p'
}

_vxlog_help_options()
{
    "$1" "$2" --help 2>/dev/null | sed -n 's/^  \(-.*\)$/\1/p' | sed 's/ <[^>]*>//; s/, /\n/g'
}

_vxlog()
{
    local program="${COMP_WORDS[0]}"
    local cur="${COMP_WORDS[COMP_CWORD]}"
    local prev=""
    ((COMP_CWORD > 0)) && prev="${COMP_WORDS[COMP_CWORD - 1]}"
    local IFS=$'\n'

    # "--db=FILE": bash splits at "=" (COMP_WORDBREAKS), so the value is cur.
    if [[ "$cur" == "=" ]]; then
        cur=""
    elif [[ "$prev" == "=" && COMP_CWORD -gt 1 ]]; then
        prev="${COMP_WORDS[COMP_CWORD - 2]}"
    fi

    case "$prev" in
        -p|--type)
            local head="" piece="$cur"
            if [[ "$cur" == *,* ]]; then
                head="${cur%,*},"
                piece="${cur##*,}"
            fi
            local types=(all 0 1 2 3 4 param user status alarm info
                         参数修改记录 用户使用记录 系统状态记录 报警记录 其他信息)
            COMPREPLY=($(compgen -P "$head" -W "${types[*]}" -- "$piece"))
            return
            ;;
        -o|--output|--format)
            COMPREPLY=($(compgen -W $'text\nshort\nshort-iso\ncat\ncsv\njson\njson-pretty\nverbose' -- "$cur"))
            return
            ;;
        --db|--cursor-file|--ca|--cert|--key)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --dir)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        -n|--lines)
            COMPREPLY=($(compgen -W $'10\n100\n1000\nall' -- "$cur"))
            return
            ;;
        -S|--since|-U|--until)
            COMPREPLY=($(compgen -W $'today\nyesterday\nnow\ntomorrow' -- "$cur"))
            return
            ;;
        --day|-g|--grep|--time|--vacuum-time|--size|--vacuum-size|--to|--facility|--hostname|--host|--peer|\
        --max-message-size|--after-id)
            return  # a value of the user's own
            ;;
    esac

    # The command is the first word that is neither an option nor its value.
    local command="" i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        case "$word" in
            --db|-p|--type|--day|-S|--since|-U|--until|-g|--grep|-n|--lines|-o|--output|--format|--dir|\
            --to|--cursor-file|--facility|--hostname|--host|--ca|--cert|--key|--peer|--time|--vacuum-time|--size|--vacuum-size|\
            --max-message-size|--after-id)
                ((i++)) ;;
            -*|=) ;;
            *) command="$word"; break ;;
        esac
    done

    if [[ -z "$command" && "$cur" != -* ]]; then
        COMPREPLY=($(compgen -W "$(_vxlog_help_commands "$program")" -- "$cur"))
    elif [[ "$cur" == -* ]]; then
        local options
        if [[ -n "$command" ]]; then
            options="$(_vxlog_help_options "$program" "$command")"
        else
            options=$'--help\n-h\n--version\n--disk-usage\n--vacuum-time\n--vacuum-size\n--db'
        fi
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ "$command" == write ]]; then
        return  # the message
    fi
}

complete -F _vxlog vxlog
