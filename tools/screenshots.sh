#!/bin/sh
# Takes the documentation's screenshots under a virtual display (Xvfb): the
# main window during a conversion with the spectrum running, each page of the
# tab control, every drop-down list opened, a tool tip, the add dialog, the
# output manager idle and playing, the effects window, the skin dialog, the
# about dialogs and the message boxes, into docs/screenshots/.
# Usage: tools/screenshots.sh [BUILDDIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
OUT=docs/screenshots
cmake --build "$BUILD" --target kestrel-screenshots kestrel mxscan orvosoundmix mp3enc mpadec_ext
mkdir -p "$OUT"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
# Ten seconds of a chord, so that the spectrum and the waveform have something to show.
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=10" -f lavfi \
  -i "sine=frequency=1320:duration=10" -filter_complex amix=inputs=2 -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 192k "$TMP/klang.mp3"
LANG=zh_CN.UTF-8 SDL_AUDIODRIVER=dummy xvfb-run -a -s "-screen 0 1280x900x24" \
  "$BUILD/bin/kestrel-screenshots" "$OUT" "$TMP/klang.mp3"
ls -l "$OUT"
