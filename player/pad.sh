#!/bin/sh
# pad.sh IN OUT SIZE: copies the player program IN to OUT padded with zero
# bytes to exactly SIZE bytes; fails when IN is larger. The padding lies after
# the program's last section, where Windows ignores it.
set -e
have=$(stat -c %s "$1")
if [ "$have" -gt "$3" ]; then
    echo "error: the player program has $have bytes, more than the $3 the EXE layout reserves" >&2
    exit 1
fi
cp "$1" "$2.tmp"
truncate -s "$3" "$2.tmp"
mv "$2.tmp" "$2"
