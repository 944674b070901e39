#!/bin/sh
# Silent conversion of a 10-minute VCD-like file (MPEG-1 program stream with
# MP2 224 kbit/s, 44100 Hz stereo) to MP3 128 kbit/s, MP3 VBR quality 4, M4A
# (AAC LC 128 kbit/s, the profile ffmpeg encodes; the Main profile, kestrel's
# default, is encoded on one thread), WMA and WAV, against ffmpeg doing the same, with
# hyperfine; and how the MP3 encoder joined its segments on this machine's
# processors (joins that found no frame to join at in the planned overlap are
# "widened").
#
# Usage: bench/convert.sh [BUILD_DIR]
#   BUILD_DIR  a configured and built tree (default: build-bench, configured
#              and built here as a release build when missing)
# Results go to BUILD_DIR/bench-convert/convert.md.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_GUI=OFF \
        -DKESTREL_TESTS=OFF
fi
cmake --build "$build" -j2
build="$(cd "$build" && pwd)"
work="$build/bench-convert"
mkdir -p "$work/home" "$work/out-kestrel" "$work/out-ffmpeg"
src="$work/vcd-10min.mpg"
if [ ! -e "$src" ]; then
    echo "making $src (10 minutes) ..."
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=352x288:rate=25:duration=600" \
        -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t)+0.05*random(1):s=44100:d=600" \
        -target pal-vcd -f vcd "$src.part"
    mv "$src.part" "$src"
fi
cli="$build/bin/kestrel-cli"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
k="$cli --home $work/home convert --mode silent -r 44100 -o $work/out-kestrel/"
f="ffmpeg -nostdin -loglevel error -y -i $src -vn"
hyperfine --warmup 1 --runs 3 --export-markdown "$work/convert.md" \
    --prepare "rm -f $work/out-kestrel/*" \
    -n "kestrel mp3 128k" "$k -t mp3 -b 128 $src" \
    -n "ffmpeg mp3 128k" "$f -c:a libmp3lame -b:a 128k $work/out-ffmpeg/out.mp3" \
    -n "kestrel mp3 -V 4" "$k -t mp3 --vbr 4 $src" \
    -n "ffmpeg mp3 -V 4" "$f -c:a libmp3lame -q:a 4 $work/out-ffmpeg/out.mp3" \
    -n "kestrel m4a 128k" "$k -t m4a --aac-rate 128000 --aac-profile lc $src" \
    -n "ffmpeg m4a 128k" "$f -c:a aac -b:a 128k $work/out-ffmpeg/out.m4a" \
    -n "kestrel wma 128k" "$k -t wma --wma-codec 0 --wma-format 5 $src" \
    -n "ffmpeg wma 128k" "$f -c:a wmav2 -b:a 128k $work/out-ffmpeg/out.wma" \
    -n "kestrel wav" "$k -t wav $src" \
    -n "ffmpeg wav" "$f $work/out-ffmpeg/out.wav"
cat "$work/convert.md"

# The MP3 encoder's joins on as many threads as kestrel-cli uses here.
"$cli" --home "$work/home" convert -q --mode silent -r 44100 -t wav -o "$work/pcm.wav" -y "$src"
c++ -std=c++20 -O2 -I"$root/libs" "$root/bench/mp3_joins.cpp" -ldl -o "$work/mp3_joins"
threads=$(nproc)
for mode in "cbr 128" "vbr 4"; do
    printf '%s on %s threads: ' "$mode" "$threads"
    "$work/mp3_joins" "$build/bin/mp3enc.so" "$work/pcm.wav" "$threads" $mode
done
uptime
