#!/bin/sh
# Decoding speed of mp3dec against mpg123 (single thread, release build):
# a 10-minute 128 kbit/s MPEG-1 file and a 10-minute 24 kHz MPEG-2 file.
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
cmake --build "$build" --target kestrel_decode
media="$build/bench-media"
mkdir -p "$media"
driver="$media/decode_driver"
c++ -O2 -std=c++20 -I "$root/src" "$root/bench/decode_driver.cpp" \
    "$build/src/libkestrel_decode.a" -lpthread -o "$driver"

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
