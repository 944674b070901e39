#!/bin/sh
# Installs the build into a scratch prefix and unpacks the .deb into a scratch
# root; both copies must start, find their libraries, keep their files in
# $XDG_DATA_HOME/kestrel and carry valid desktop files.
# Usage: install_check.sh BUILD_DIR FIXTURE_DIR
set -eu
build=$1
fixtures=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

check_copy() { # ROOT BIN_DIR
  root=$1 bin=$2
  [ -x "$bin/kestrel-cli" ] || fail "no kestrel-cli in $bin"
  "$bin/kestrel-cli" --version | grep -q '^kestrel-cli ' || fail "--version from $bin"
  # Both programs find every library they link (the rate changer through the run path).
  for exe in "$bin/kestrel-cli" "$bin/kestrel"; do
    [ -e "$exe" ] || continue
    if ldd "$exe" | grep -q 'not found'; then fail "$exe misses a library: $(ldd "$exe" | grep 'not found')"; fi
  done
  if [ -x "$bin/kestrel" ] && [ ! -f "$root/share/applications/org.kestrel.Kestrel.desktop" ]; then
    fail "the window is installed without its desktop entry"
  fi
  home="$scratch/home-$(basename "$root")"
  mkdir -p "$home"
  # Libraries found through the private folder: the stream probe analyses a file.
  out=$(env -u KESTREL_HOME -u KESTREL_LIB_DIR HOME="$home" XDG_DATA_HOME="$home/data" \
        "$bin/kestrel-cli" info "$fixtures/mpeg_vcd.mpg") || fail "info from $bin: $out"
  echo "$out" | grep -q 'MPEG1/2 PS' || fail "info from $bin did not name the type: $out"
  env -u KESTREL_HOME HOME="$home" XDG_DATA_HOME="$home/data" \
      "$bin/kestrel-cli" settings path | grep -q "^$home/data/kestrel/" ||
    fail "installed copy does not keep its settings in XDG_DATA_HOME"
  [ ! -e "$bin/tavolin.ini" ] || fail "installed copy wrote beside its executable"
  apps="$root/share/applications"
  if [ -d "$apps" ] && command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$apps"/*.desktop || fail "desktop entry"
  fi
  if [ -d "$root/share/metainfo" ] && command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root"/share/metainfo/*.xml >/dev/null || fail "metainfo"
  fi
  [ -f "$root/share/icons/hicolor/48x48/apps/kestrel.png" ] || fail "icons"
  [ -f "$root/share/man/man1/kestrel-cli.1" ] || fail "manual page"
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check_copy "$scratch/prefix" "$scratch/prefix/bin"
echo "cmake --install: ok"

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$scratch/pkg" >/dev/null) || fail "cpack"
  deb=$(ls "$scratch"/pkg/*.deb)
  dpkg-deb -f "$deb" Depends | grep -q libavcodec || fail "package dependencies"
  dpkg -x "$deb" "$scratch/root"
  check_copy "$scratch/root/usr" "$scratch/root/usr/bin"
  echo ".deb: ok ($(basename "$deb"))"
fi
