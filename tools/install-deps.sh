#!/bin/sh
# Installs every Debian 12 package that kestrel, its package, its tests and its
# benchmarks need (the few that only the tests need: tools/test.sh).
# Safe to run again; works as root or through sudo.
set -e
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
PKGS="build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev \
 qt6-base-dev libgl-dev qt6-translations-l10n \
 libavformat-dev libavcodec-dev libavutil-dev libswresample-dev \
 libmp3lame-dev libopencore-amrnb-dev libsoxr-dev libfftw3-dev libmpg123-dev \
 libsdl2-dev zlib1g-dev libgtest-dev fonts-wqy-microhei \
 gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 \
 ffmpeg sox lame mpg123 twolame hyperfine xvfb xauth desktop-file-utils appstream file"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $PKGS
fi
