#!/bin/sh
# Replaces the kestrel-cli --help block of README.md with the program's real
# output in the C locale.
# usage: tools/update-readme-help.sh [BUILD_DIR]   (default: build)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$top/build}/bin/kestrel-cli
help=$(mktemp)
trap 'rm -f "$help" "$help.readme"' EXIT
LC_ALL=C "$cli" --help >"$help"
awk -v help="$help" '
    /^<!-- kestrel-cli --help: begin/ { print; print "```text"; while ((getline l < help) > 0) print l; print "```"; skip = 1; next }
    /^<!-- kestrel-cli --help: end/ { skip = 0 }
    !skip { print }
' "$top/README.md" >"$help.readme"
cat "$help.readme" >"$top/README.md"
