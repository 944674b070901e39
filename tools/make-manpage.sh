#!/bin/sh
# Writes the manual page of kestrel-cli from its own help texts.
# usage: make-manpage.sh KESTREL_CLI OUTPUT VERSION
set -eu
cli=$1
out=$2
version=${3:-}
export LC_ALL=C

# roff: backslashes doubled; a line starting with a dot or an apostrophe
# would be a request, so it gets a zero-width character in front.
esc() {
    sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
}

# The program's help, cut at its closing headings: what comes before them is
# the description, each of them becomes the manual section of its name.
help=$("$cli" --help)
sections='Examples|Exit status|Files|Environment|See also'
description() { printf '%s\n' "$help" | awk -v s="^($sections):\$" '$0 ~ s { exit } { print }'; }
section() { printf '%s\n' "$help" | awk -v h="$1:" -v s="^($sections):\$" '
    $0 == h { on = 1; next }
    on && $0 ~ s { exit }
    on { print }'; }

tmp=$out.tmp
{
    printf '.TH KESTREL-CLI 1 "" "kestrel %s" "User Commands"\n' "$version"
    printf '.SH NAME\nkestrel-cli \\- convert the sound of multimedia files to audio files\n'
    printf '.SH SYNOPSIS\n.B kestrel-cli\n[\\fB\\-\\-home\\fR \\fIDIR\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR...]\n'
    printf '.SH DESCRIPTION\n.nf\n'
    description | esc
    printf '.fi\n.SH COMMANDS\n'
    for c in $(description | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'); do
        printf '.SS %s\n.nf\n' "$c"
        "$cli" "$c" --help | esc
        printf '.fi\n'
    done
    for name in Examples 'Exit status' Files Environment 'See also'; do
        printf '.SH %s\n.nf\n' "$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]')"
        section "$name" | esc
        printf '.fi\n'
    done
} >"$tmp"
mv "$tmp" "$out"
