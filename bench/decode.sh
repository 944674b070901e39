#!/bin/sh
# Decoding speed of mp3dec against mpg123 (single thread, release build):
# a 10-minute 128 kbit/s MPEG-1 file and a 10-minute 24 kHz MPEG-2 file.
# Twice for each file: the decoder alone (to standard output, against
# `mpg123 -s`), then the path a user runs, `kestrel-cli convert -t wav --mode
# silent` at the source's rate and channels (no rate change), against
# `mpg123 -w`.
#
# Usage: bench/decode.sh [BUILD_DIR]
#   BUILD_DIR: a Release build folder (made when missing; default build-release).
# Needs cmake, ninja, a C++ compiler, ffmpeg, lame, mpg123 and hyperfine.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-release}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_GUI=OFF \
        -DKESTREL_TESTS=OFF
fi
# The command line and the codec libraries it loads.
cmake --build "$build" -j2
build="$(cd "$build" && pwd)"
media="$build/bench-media"
mkdir -p "$media"
driver="$media/decode_driver"
c++ -O2 -std=c++20 -I "$root/src" "$root/bench/decode_driver.cpp" \
    "$build/src/libkestrel_decode.a" "$build/src/libkestrel_mpa_header.a" -lpthread -o "$driver"

# Ten minutes of music-like sound: tones, a repeating sweep, noise and transients.
make_source() { # RATE OUT
    [ -e "$2" ] && return 0
    tr="0.45*exp(-60*mod(t\,0.37))*sin(2*PI*2300*t)*lt(mod(t\,0.37)\,0.05)"
    l="0.25*sin(2*PI*440*t)*(0.6+0.4*sin(2*PI*0.7*t))+0.12*sin(2*PI*(150+900*mod(t\,6))*t)+0.05*(random(0)*2-1)+$tr"
    r="0.22*sin(2*PI*554.37*t+1)+0.1*sin(2*PI*(300+700*mod(t\,5))*t)+0.05*(random(1)*2-1)+$tr"
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "aevalsrc=exprs=$l|$r:s=$1:d=600" \
        -c:a pcm_s16le "$2"
}
if [ ! -e "$media/mpeg1_128k.mp3" ]; then
    make_source 44100 "$media/src44.wav"
    lame --quiet -b 128 "$media/src44.wav" "$media/mpeg1_128k.mp3"
    rm -f "$media/src44.wav"
fi
if [ ! -e "$media/mpeg2_24k.mp3" ]; then
    make_source 24000 "$media/src24.wav"
    lame --quiet -b 64 "$media/src24.wav" "$media/mpeg2_24k.mp3"
    rm -f "$media/src24.wav"
fi

for f in mpeg1_128k mpeg2_24k; do
    hyperfine -N --warmup 2 --runs 10 --export-markdown "$media/$f.md" \
        -n "mp3dec $f" "$driver $media/$f.mp3" \
        -n "mpg123 $f" "mpg123 -q -s $media/$f.mp3"
done

# The user's path. A fresh settings folder keeps the default two channels
# (both sources are stereo); -r is the source's rate, so nothing is resampled.
cli="$build/bin/kestrel-cli"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
out="$media/out"
rm -rf "$media/home" "$out"
mkdir -p "$media/home" "$out"
for case in mpeg1_128k:44100 mpeg2_24k:24000; do
    f="${case%%:*}"
    rate="${case##*:}"
    k="$cli --home $media/home convert -t wav --mode silent -r $rate -o $out/ $media/$f.mp3"
    # Once first: the output must keep the source's rate and channels.
    rm -f "$out"/*
    $k >/dev/null
    got="$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels \
        -of csv=p=0 "$out"/*"$f".wav)"
    if [ "$got" != "$rate,2" ]; then
        echo "kestrel-cli wrote $got (rate,channels), expected $rate,2" >&2
        exit 1
    fi
    hyperfine --warmup 1 --runs 5 --export-markdown "$media/cli-$f.md" \
        --prepare "rm -f $out/*" \
        -n "kestrel-cli convert -t wav $f" "$k" \
        -n "mpg123 -w $f" "mpg123 -q -w $out/$f.wav $media/$f.mp3"
done
cat "$media"/mpeg1_128k.md "$media"/mpeg2_24k.md "$media"/cli-mpeg1_128k.md "$media"/cli-mpeg2_24k.md
