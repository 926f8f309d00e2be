#!/bin/sh
# make-completion.sh VANTOREL-CLI OUTPUT
# Writes the bash completion of vantorel-cli from the program's own help: the commands
# its --help lists and, for each, the options its help shows (lines "  --name[=VALUE]"),
# so that completion offers exactly what the program documents. A value that names a
# FILE, DIR or FOLDER completes as a path; "a|b|c" in lower case completes as one of those
# words; any other value is left to the user.
set -eu
cli=$1
output=$2

commands=$("$cli" --help | awk '/^Commands:$/ {f = 1; next} f && /^$/ {exit} f {print $1}')
[ -n "$commands" ] || { echo "make-completion: no commands in $cli --help" >&2; exit 1; }

# The option column of each option line: up to the first two blanks after the name(s).
# An optional value ("--name[=VALUE]") is offered as the bare option.
option_words() {
    "$cli" help "$1" | awk '/^  --/ {
        line = substr($0, 3); sub(/  .*/, "", line); gsub(/, /, " ", line)
        n = split(line, w, " ")
        for (i = 1; i <= n; ++i) if (w[i] ~ /^--/) { sub(/\[=.*$/, "", w[i]); print w[i] } }'
}

{
    cat <<'HEAD'
# bash completion for vantorel-cli, made at build time from vantorel-cli's own help.
_vantorel_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    local commands="COMMANDS"
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "$commands help --help --version" -- "$cur"))
        return
    fi
    local command=${words[1]}
    if [[ $command == help ]]; then
        ((cword == 2)) && COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi

    local options="" verbs=""
    case $command in
HEAD
    for c in $commands; do
        words=$(option_words "$c")
        # A command that begins with a word of its own ("keps update") offers it first.
        verb=$("$cli" help "$c" | awk 'NR == 1 {print $4; exit}')
        case $verb in *[![:lower:]]* | "") verb="" ;; esac
        printf '        %s)\n' "$c"
        printf '            options="%s"\n' "$(echo $words --help | sed 's/=[^ ]*/=/g')"
        [ -z "$verb" ] || printf '            verbs="%s"\n' "$verb"
        printf '            case $prev in\n'
        for w in $words; do
            case $w in *=*) ;; *) continue ;; esac
            name=${w%%=*}
            value=${w#*=}
            choices=$(echo "$value" | tr '|' ' ')
            case $choices in
                FILE) printf '                %s) _filedir; return ;;\n' "$name" ;;
                DIR | FOLDER) printf '                %s) _filedir -d; return ;;\n' "$name" ;;
                *[![:lower:]\ ]*) printf '                %s) return ;;\n' "$name" ;;
                *) printf '                %s) COMPREPLY=($(compgen -W "%s" -- "$cur")); return ;;\n' \
                       "$name" "$choices" ;;
            esac
        done
        printf '            esac\n'
        printf '            ;;\n'
    done
    cat <<'TAIL'
        *) return ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    elif [[ -n $verbs ]] && ((cword == 2)); then
        COMPREPLY=($(compgen -W "$verbs" -- "$cur"))
    else
        _filedir
    fi
} &&
    complete -F _vantorel_cli vantorel-cli
TAIL
} | sed "s/COMMANDS/$(echo $commands)/" >"$output.tmp"
mv "$output.tmp" "$output"
