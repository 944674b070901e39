#!/bin/sh
# Takes a picture of the self-playing EXE's player window under Wine in a
# virtual X display: docs/player-window.png.
# usage: tools/screenshot-player.sh [BUILD_DIR] [OUTPUT.png]
# Needs a build (kestrel-cli and orvoplay.so), wine64, Xvfb and ffmpeg. The
# Wine prefix is kept in BUILD_DIR/wine-shot-prefix; the installed CJK font
# (fonts-wqy-microhei) is made known to it, so that the Chinese texts show.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
png=${2:-$here/docs/player-window.png}
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "screenshot-player: wine64 is not installed" >&2; exit 1; }
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
[ -e "$font" ] || { echo "screenshot-player: $font (fonts-wqy-microhei) is missing" >&2; exit 1; }

export WINEPREFIX="$build/wine-shot-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# An EXE with a description, a password-free start and the speed control.
src="$work/tone.wav"
ffmpeg -nostdin -loglevel error -y -f lavfi \
    -i "aevalsrc=exprs=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=95" "$src"
KESTREL_HOME="$work" SDL_AUDIODRIVER=dummy "$build/bin/kestrel-cli" convert -q -t mp3 \
    -o "$work/tone.mp3" "$src" >/dev/null 2>&1 || true
[ -e "$work/tone.mp3" ] || lame --quiet "$src" "$work/tone.mp3"
KESTREL_HOME="$work" SDL_AUDIODRIVER=dummy "$build/bin/kestrel-cli" convert -q -t exe \
    --exe-speed --exe-description "岚石多媒体MP3转换器制作 —— 双击即可收听" \
    -o "$work/song.exe" "$work/tone.mp3" >/dev/null

run_x() {
    # The display: Xvfb on a free number.
    n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=":$n"
    sleep 2
    # The font: into the prefix's font folder, and named for the faces the
    # player and Wine's own dialogs ask for.
    "$wine" wineboot -i >/dev/null 2>&1 || true
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    for face in "Microsoft YaHei" "SimSun" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
        "$wine" reg add "$key" /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    for face in "Tahoma" "Microsoft Sans Serif" "Segoe UI"; do
        "$wine" reg add "$link" /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" \
            /f >/dev/null 2>&1
    done
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
    # Wine's own desktop window draws the title bar (there is no window manager).
    (cd "$work" && "$wine" explorer /desktop=kestrel,520x300 song.exe >/dev/null 2>&1) &
    player=$!
    sleep 8
    mkdir -p "$(dirname "$png")"
    ffmpeg -nostdin -loglevel error -y -f x11grab -video_size 800x600 -i "$DISPLAY" \
        -frames:v 1 "$work/screen.png"
    kill "$player" 2>/dev/null || true
    WINEPREFIX="$WINEPREFIX" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
}
run_x
# Wine's desktop sits at the top left of the screen: keep it.
ffmpeg -nostdin -loglevel error -y -i "$work/screen.png" -vf "crop=520:300:0:0" "$png"
echo "$png"
