#!/bin/sh
# A batch of four 10-minute VCD-like files (MPEG-1 program stream with MP2
# 224 kbit/s, 44100 Hz stereo) converted silently to MP3 128 kbit/s by
# `kestrel-cli convert -j JOBS` (default 2), against four ffmpeg runs one
# after the other on the same files, with hyperfine (one run each: the batch
# is long). Prints the throughput of the batch as a multiple of ffmpeg's.
#
# Usage: bench/batch.sh [BUILD_DIR] [JOBS]
#   BUILD_DIR  a configured and built tree, whose kestrel-cli is brought up to
#              date (default: build-bench, configured and built here as a
#              release build when missing)
# Results go to BUILD_DIR/bench-batch/batch.md and batch.json.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
jobs="${2:-2}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_GUI=OFF \
        -DKESTREL_TESTS=OFF
    cmake --build "$build" -j2
else
    cmake --build "$build" -j2 --target kestrel-cli
fi
build="$(cd "$build" && pwd)"
work="$build/bench-batch"
mkdir -p "$work/home" "$work/out-kestrel" "$work/out-ffmpeg"
first="$work/vcd-10min-1.mpg"
if [ ! -e "$first" ]; then
    echo "making $first (10 minutes) ..."
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=352x288:rate=25:duration=600" \
        -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t)+0.05*random(1):s=44100:d=600" \
        -target pal-vcd -f vcd "$first.part"
    mv "$first.part" "$first"
fi
srcs="$first"
for i in 2 3 4; do
    f="$work/vcd-10min-$i.mpg"
    [ -e "$f" ] || cp "$first" "$f"
    srcs="$srcs $f"
done
cli="$build/bin/kestrel-cli"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
ff=""
for f in $srcs; do
    ff="$ff ffmpeg -nostdin -loglevel error -y -i $f -vn -c:a libmp3lame -b:a 128k $work/out-ffmpeg/$(basename "$f" .mpg).mp3;"
done
hyperfine --runs 1 --export-markdown "$work/batch.md" --export-json "$work/batch.json" \
    --prepare "rm -f $work/out-kestrel/* $work/out-ffmpeg/*" \
    -n "kestrel -j $jobs (4 files)" \
    "$cli --home $work/home convert --mode silent -t mp3 -b 128 -r 44100 -j $jobs -o $work/out-kestrel/ $srcs" \
    -n "ffmpeg x4 sequential" "sh -c '$ff'"
cat "$work/batch.md"
# Throughput ratio: ffmpeg's time over kestrel's for the same four files.
sed -n 's/.*"mean": *\([0-9.e+-]*\).*/\1/p' "$work/batch.json" |
    awk 'NR == 1 { k = $1 } NR == 2 { f = $1 }
         END { if (k > 0) printf "kestrel -j '"$jobs"': %.2f times the throughput of sequential ffmpeg\n", f / k }'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (a shared machine: other work ran meanwhile)"
