#!/bin/sh
# Fast conversion against ffmpeg's stream copy on a 10-minute VCD-like file
# (MPEG-1 program stream, 352x288 MPEG-1 video, MP2 224 kbit/s 44100 Hz).
#
# Usage: bench/fast.sh [BUILD_DIR]
#   BUILD_DIR  a configured and built tree (default: build-bench, configured
#              and built here as RelWithDebInfo when missing)
#
# Compares
#   kestrel-cli fast -o DIR FILE
# (or, while that command is not available, bench/fast_driver.cpp built
# against the engine of BUILD_DIR) with
#   ffmpeg -i FILE -vn -c:a copy -f mp2 OUT
# using hyperfine; results go to BUILD_DIR/bench-fast/fast.md.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_GUI=OFF \
        -DKESTREL_TESTS=OFF
fi
cmake --build "$build" -j2
build="$(cd "$build" && pwd)"
work="$build/bench-fast"
mkdir -p "$work/out-kestrel" "$work/out-ffmpeg"
src="$work/vcd-10min.mpg"

if [ ! -e "$src" ]; then
    echo "making $src (10 minutes) ..."
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=352x288:rate=25:duration=600" \
        -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=600" \
        -target pal-vcd -f vcd "$src.part"
    mv "$src.part" "$src"
fi

# kestrel-cli fast when it works, else the driver.
cli="$build/bin/kestrel-cli"
out="$work/out-kestrel/vcd-10min.mp3"
rm -f "$out"
if [ -x "$cli" ] && "$cli" fast -o "$work/out-kestrel/" "$src" >/dev/null 2>&1 && [ -s "$out" ]; then
    kestrel="$cli fast -o $work/out-kestrel/ $src"
else
    driver="$work/fast_driver"
    # The engine's layers, top to bottom.
    engine=""
    for l in convert pipeline catalogue libraries decode containers settings core mpa_header \
        platform; do
        engine="$engine $build/src/libkestrel_$l.a"
    done
    libs="$(pkg-config --libs libavformat libavcodec libavutil libswresample soxr fftw3f sdl2)"
    c++ -std=c++20 -O2 -I"$root/src" -I"$root/libs" "$root/bench/fast_driver.cpp" \
        $engine $libs -liconv -lpthread -ldl -o "$driver" 2>/dev/null ||
        c++ -std=c++20 -O2 -I"$root/src" -I"$root/libs" "$root/bench/fast_driver.cpp" \
            $engine $libs -lpthread -ldl -o "$driver"
    kestrel="$driver -o $work/out-kestrel/ $src"
    echo "kestrel-cli fast is not available: timing $driver instead"
fi

hyperfine --warmup 2 --runs 10 --export-markdown "$work/fast.md" \
    -n kestrel "$kestrel" \
    -n ffmpeg "ffmpeg -nostdin -loglevel error -y -i $src -vn -c:a copy -f mp2 $work/out-ffmpeg/vcd-10min.mp2"

# Both copies hold the same frames (ffmpeg may add a cut-off last frame).
a=$(stat -c %s "$out")
b=$(stat -c %s "$work/out-ffmpeg/vcd-10min.mp2")
if cmp -s -n "$a" "$out" "$work/out-ffmpeg/vcd-10min.mp2"; then
    echo "frames identical: kestrel $a bytes, ffmpeg $b bytes"
else
    echo "WARNING: outputs differ (kestrel $a bytes, ffmpeg $b bytes)"
fi
cat "$work/fast.md"
