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

tmp=$out.tmp
{
    printf '.TH KESTREL-CLI 1 "" "kestrel %s" "User Commands"\n' "$version"
    printf '.SH NAME\nkestrel-cli \\- convert the sound of multimedia files to audio files\n'
    printf '.SH SYNOPSIS\n.B kestrel-cli\n[\\fB\\-\\-home\\fR \\fIDIR\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR...]\n'
    printf '.SH DESCRIPTION\n.nf\n'
    "$cli" --help | esc
    printf '.fi\n.SH COMMANDS\n'
    for c in $("$cli" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'); do
        printf '.SS %s\n.nf\n' "$c"
        "$cli" "$c" --help | esc
        printf '.fi\n'
    done
    printf '.SH FILES\n.TP\n.I tavolin.ini\nthe settings (see \\fBkestrel-cli settings path\\fR)\n'
    printf '.TP\n.I mpginfo.dat\nthe media list of the window\n'
    printf '.SH ENVIRONMENT\n.TP\n.B KESTREL_HOME\nthe folder of the settings and the media list\n'
    printf '.TP\n.BR LC_ALL ", " LC_MESSAGES ", " LANG\n'
    printf 'a locale starting with zh gives the help in Chinese, any other in English\n'
} >"$tmp"
mv "$tmp" "$out"
