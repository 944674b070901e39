#!/bin/bash
# Installs the dependencies, builds the programs (not the tests) and starts
# the window, or shows the command line's help where there is no display.
# Arguments go to the window (media files to open).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target programs
if [ -x build/bin/kestrel ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/bin/kestrel "$@"
fi
exec build/bin/kestrel-cli --help
