#!/bin/bash
# completion.sh VANTOREL-CLI COMPLETION-FILE
# Drives the generated bash completion as bash-completion would and checks what it offers
# against what vantorel-cli itself says.
set -euo pipefail
cli=$1
file=$2
framework=/usr/share/bash-completion/bash_completion
[ -f "$framework" ] || { echo "bash-completion is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# complete WORD...: the completions of the last word (possibly empty) on the line.
complete_line() {
    bash -c '
        source "$1" && source "$2" && shift 2
        compopt() { :; } # only works inside a real completion
        cd "$1" && shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _vantorel_cli vantorel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort' \
        _ "$framework" "$file" "$work" vantorel-cli "$@"
}
expect() { # expect WANTED WORD...: the completions, one line, sorted
    local wanted=$1
    shift
    local got
    got=$(complete_line "$@" | paste -sd' ')
    [ "$got" = "$wanted" ] || { echo "vantorel-cli $*<TAB>: got '$got', wanted '$wanted'"; exit 1; }
}

# Every command the CLI lists, and nothing else, at the first word.
commands=$("$cli" --help | awk '/^Commands:$/ {f = 1; next} f && /^$/ {exit} f {print $1}')
expect "$(printf '%s\n' $commands help --help --version | sort | paste -sd' ')" ""
expect "process propagate" pr
expect "help" help
expect "keps" "help" k

expect "--no-align --no-calibration --no-graticule --no-overlay" process --no-
expect "--out=" process --ou
expect "--graticule" process --grat
expect "thick thin" locate --thickness=t
expect "normal thick thin" process --thickness ""
expect "update" keps ""
expect "--if-older=" keps update --if

# Folder options offer folders only; file options and the image offer files too.
mkdir "$work/keps" && touch "$work/kepsfile.txt"
expect "keps" process --keplers=ke
expect "keps kepsfile.txt" propagate --elements ke
expect "keps kepsfile.txt" process ke
expect "" process --offset ""
echo "completion ok"
