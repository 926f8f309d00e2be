#!/bin/sh
# make-manpage.sh HELP2MAN PROGRAM NAME-LINE INCLUDE OUTPUT.gz
# The manual page of PROGRAM, made by help2man from the program's own --help and
# --version, with INCLUDE's fixed sections. For a program with commands ("Commands:" in
# its --help), each command's own help is added under COMMANDS, so that the page says
# everything the program does and nothing else.
set -eu
help2man=$1
program=$2
name_line=$3
include=$4
output=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$include" "$work/page.h2m"

commands=$("$program" --help | awk '/^Commands:$/ {f = 1; next} f && /^$/ {exit} f {print $1}')
if [ -n "$commands" ]; then
    printf '\n[>commands]\n' >>"$work/page.h2m"
    for c in $commands; do
        printf '.SS "%s"\n.nf\n' "$c" >>"$work/page.h2m"
        # Verbatim text for roff: backslashes and minus signs escaped, no line taken as
        # a request.
        "$program" help "$c" | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e 's/^[.'"'"']/\\\&&/' \
            >>"$work/page.h2m"
        printf '.fi\n' >>"$work/page.h2m"
    done
fi

"$help2man" --no-info --no-discard-stderr --name="$name_line" --include="$work/page.h2m" \
    --output="$work/page.1" "$program"
# No time stamp in the archive, so that the same page always gives the same file.
gzip -9n <"$work/page.1" >"$output.tmp"
mv "$output.tmp" "$output"
