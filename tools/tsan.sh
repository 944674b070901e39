#!/bin/sh
# Builds the concurrency test (and the programs and libraries it runs) and the
# segment encoder's test with ThreadSanitizer in a build folder of its own and
# runs them; any data race report fails the run. Only these tests are built
# (with the program and every run-time library it loads). Slow: not part of
# the normal test run.
#   tools/tsan.sh [BUILD_DIR]   (default: build-tsan)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build-tsan"}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_TSAN=ON \
  -DKESTREL_GUI=OFF -DKESTREL_TEST_FILTER='concurrency_test|av_segments_test' >/dev/null
ninja -C "$build" -j2
sh "$here/tests/fixtures/make.sh" "$build/fixtures"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
KESTREL_FIXTURES="$build/fixtures" SDL_AUDIODRIVER=dummy "$build/tests/concurrency_test"
"$build/tests/av_segments_test"
echo "tsan: concurrency_test and av_segments_test passed without a report"
