#!/bin/sh
# Runs every libFuzzer target for SECONDS each, one after the other, at the
# lowest priority, and prints each target's runs and findings.
#
# usage: tools/fuzz.sh SECONDS [BUILD_DIR] [TARGET...]
#
# BUILD_DIR is a build folder configured with clang and -DKESTREL_FUZZ=ON
# (default: build-fuzz), e.g.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKESTREL_FUZZ=ON \
#       -DKESTREL_GUI=OFF -DKESTREL_TESTS=OFF
#   ninja -C build-fuzz $(ninja -C build-fuzz -t targets all | grep -o '^fuzz_[a-z0-9_]*' | sort -u)
# Each target keeps its corpus in BUILD_DIR/fuzz-corpus/<target> (seeded from
# $KESTREL_FIXTURES when that names the test media) and its findings (crash-,
# leak-, timeout- and oom- files) in BUILD_DIR/fuzz-findings/<target>.
# Inputs are kept to FUZZ_MAX_LEN bytes (default 65536; seeds are cut there):
# long enough for every container's structures, short enough for many runs.
# Exit status 1 when a target found something.
set -u
seconds="${1:?usage: tools/fuzz.sh SECONDS [BUILD_DIR] [TARGET...]}"
build="${2:-build-fuzz}"
[ $# -ge 2 ] && shift 2 || shift $#
bin="$build/bin"
[ -d "$bin" ] || { echo "fuzz.sh: no $bin (build the fuzz targets first)" >&2; exit 2; }

targets="$*"
[ -n "$targets" ] || targets=$(cd "$bin" && ls fuzz_* 2>/dev/null | sort)
[ -n "$targets" ] || { echo "fuzz.sh: no fuzz targets in $bin" >&2; exit 2; }

found=0
printf '%-18s %12s %10s %s\n' target runs runs/s findings
for t in $targets; do
    corpus="$build/fuzz-corpus/$t"
    findings="$build/fuzz-findings/$t"
    mkdir -p "$corpus" "$findings"
    if [ -n "${KESTREL_FIXTURES:-}" ] && [ -d "$KESTREL_FIXTURES" ] && [ -z "$(ls -A "$corpus")" ]; then
        # Small media of every kind as the first inputs.
        find "$KESTREL_FIXTURES" -maxdepth 1 -type f -size -200k -exec cp {} "$corpus/" \; 2>/dev/null
    fi
    log="$findings/last-run.log"
    ASAN_OPTIONS=detect_leaks=1 nice -n 19 "$bin/$t" "$corpus" -max_total_time="$seconds" \
        -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len="${FUZZ_MAX_LEN:-65536}" \
        -print_final_stats=1 \
        -artifact_prefix="$findings/" >"$log" 2>&1
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    n=$(ls "$findings" | grep -c -E '^(crash|leak|timeout|oom|slow-unit)-')
    [ "$n" -gt 0 ] && found=1
    printf '%-18s %12s %10s %s\n' "$t" "${runs:-?}" "${speed:-?}" "$n"
done
exit $found
