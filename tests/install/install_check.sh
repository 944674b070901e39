#!/bin/sh
# Installs the build into a scratch root (DESTDIR) and unpacks the .deb into
# another; both copies must start, find their libraries, keep their files in
# $XDG_DATA_HOME/kestrel, carry valid desktop files and convert (each output
# checked with ffprobe). A copy of the installed program, with each of its
# libraries taken away in turn, must never report a conversion that needed
# the library as done. The package must pass lintian without errors.
# Usage: install_check.sh BUILD_DIR FIXTURE_DIR
set -eu
build=$1
fixtures=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The conversions: source, output type, output name, the codec ffprobe must
# find in the output, and the libraries the conversion cannot do without (an
# MP4 or AMV file whose libraries are missing is decoded by the media graph
# instead).
conversions() {
  cat <<'EOF'
mpeg_ac3_44k.vob wav vob.wav pcm_s16le ac3stream mxscan mpadec_ext
mpeg_vcd.mpg mp3 vcd.mp3 mp3 mxscan mpadec_ext mp3enc
mp4_aac_22k_mono.mp4 wav mp4.wav pcm_s16le
dec_l3_44_stereo.mp3 exe mp3.exe mp3 orvoplay mp3enc
dec_l3_44_stereo.mp3 m4a mp3.m4a aac orvoaacenc
dec_l3_44_stereo.mp3 amr mp3.amr amr_nb orvoamrenc
flash_22k.amv wav amv.wav pcm_s16le
avi_adpcm_22k.avi wav adpcm.wav pcm_s16le orvoadpcmdec
EOF
}

probe() { # FILE ENTRY: one value of the first audio stream
  ffprobe -v error -select_streams a:0 -show_entries "$2" -of default=nw=1:nk=1 "$1" 2>/dev/null |
    head -n 1
}

seconds() { # FILE: its sound's duration, empty when ffprobe does not know it
  for entry in stream=duration format=duration; do
    d=$(probe "$1" "$entry")
    if awk -v d="$d" 'BEGIN { exit !(d + 0 > 0) }'; then
      echo "$d"
      return
    fi
  done
}

# The sound an output holds: an EXE's MP3 data is written out first.
sound_of() { # OUTPUT
  case $1 in
  *.exe)
    "$cli" extract -o "$1.mp3" "$1" >/dev/null 2>&1 || return 1
    echo "$1.mp3" ;;
  *) echo "$1" ;;
  esac
}

# Converts one file with `cli`: sets `status`, `out`, and `listed` (the
# output lines of the report whose status is converted: the outputs reported
# as done).
convert_one() { # SOURCE TYPE NAME DIR
  mkdir -p "$4"
  out="$4/$3"
  status=0
  env -u KESTREL_HOME -u KESTREL_LIB_DIR HOME="$home" XDG_DATA_HOME="$home/data" \
    "$cli" convert -t "$2" -o "$out" "$fixtures/$1" >"$4/report" 2>"$4/errors" || status=$?
  listed=$(awk -F '\t' '$5 == "converted"' "$4/report")
}

# An output reported as done holds the whole sound in the codec expected.
check_output() { # SOURCE NAME CODEC
  sound=$(sound_of "$out") || fail "$2: the EXE's sound cannot be extracted"
  codec=$(probe "$sound" stream=codec_name)
  [ "$codec" = "$3" ] || fail "$2 from $1: ffprobe finds '$codec', not $3"
  want=$(seconds "$fixtures/$1")
  got=$(seconds "$sound")
  [ -z "$want" ] || awk -v a="$got" -v b="$want" 'BEGIN { d = a - b; exit !(d < 0.6 && d > -0.6) }' ||
    fail "$2 from $1 lasts ${got:-?} s, the source $want s"
}

check_conversions() { # LABEL
  conversions | while read -r src type name codec needs; do
    convert_one "$src" "$type" "$name" "$scratch/out-$1"
    [ "$status" = 0 ] || fail "$1: $src -> $type: exit $status: $(cat "$scratch/out-$1/errors")"
    [ -n "$listed" ] || fail "$1: $src -> $type is not reported as converted"
    check_output "$src" "$name" "$codec"
  done
}

# Takes each library away from a copy of the installed program in turn: every
# conversion that needs it fails (exit 2), none reports an output as done that
# is not whole; the others still convert.
check_missing_libraries() { # PREFIX
  copy="$scratch/copy"
  rm -rf "$copy"
  cp -a "$1" "$copy"
  cli="$copy/bin/kestrel-cli"
  libdir=$(dirname "$(find "$copy" -name mp3enc.so)")
  for lib in "$libdir"/*.so; do
    name=$(basename "$lib" .so)
    mv "$lib" "$lib.away"
    conversions | while read -r src type out_name codec needs; do
      convert_one "$src" "$type" "$out_name" "$scratch/missing/$name"
      needed=no
      for n in $needs orvopcmchange; do [ "$n" = "$name" ] && needed=yes; done
      if [ "$needed" = yes ] && [ "$status" = 0 ]; then
        fail "without $name.so, $src -> $type reports success"
      fi
      if [ -n "$listed" ]; then
        [ "$needed" = no ] || fail "without $name.so, $src -> $type is reported as converted"
        check_output "$src" "$out_name" "$codec"
      fi
      rm -rf "$scratch/missing/$name"
    done
    if [ "$name" = mp3enc ]; then
      # An earlier output that -y would replace stays as it was.
      mkdir -p "$scratch/missing/earlier"
      cp "$fixtures/dec_l3_44_stereo.mp3" "$scratch/missing/earlier/vcd.mp3"
      env -u KESTREL_HOME -u KESTREL_LIB_DIR HOME="$home" XDG_DATA_HOME="$home/data" \
        "$cli" convert -y -o "$scratch/missing/earlier/vcd.mp3" "$fixtures/mpeg_vcd.mpg" \
        >/dev/null 2>&1 && fail "without mp3enc.so, convert -y reports success"
      cmp -s "$fixtures/dec_l3_44_stereo.mp3" "$scratch/missing/earlier/vcd.mp3" ||
        fail "without mp3enc.so, convert -y replaced the earlier output"
    fi
    mv "$lib.away" "$lib"
  done
  cli=
}

check_copy() { # ROOT BIN_DIR LABEL
  root=$1 bin=$2
  cli="$bin/kestrel-cli"
  [ -x "$cli" ] || fail "no kestrel-cli in $bin"
  "$cli" --version | grep -q '^kestrel-cli ' || fail "--version from $bin"
  # Both programs find every library they link (the rate changer through the run path).
  for exe in "$bin/kestrel-cli" "$bin/kestrel"; do
    [ -e "$exe" ] || continue
    if ldd "$exe" | grep -q 'not found'; then fail "$exe misses a library: $(ldd "$exe" | grep 'not found')"; fi
  done
  apps="$root/share/applications"
  if [ -x "$bin/kestrel" ]; then
    [ -f "$apps/org.kestrel.Kestrel.desktop" ] || fail "the window is installed without its desktop entry"
    # It opens media files from the desktop ("Open with").
    grep -q '^Exec=kestrel %F$' "$apps/org.kestrel.Kestrel.desktop" || fail "the entry takes no files"
    grep -q '^MimeType=.*video/mpeg;' "$apps/org.kestrel.Kestrel.desktop" || fail "the entry names no media types"
    [ -f "$root/share/man/man1/kestrel.1.gz" ] || fail "the window's manual page"
  fi
  home="$scratch/home-$3"
  mkdir -p "$home"
  # Libraries found through the private folder: the stream probe analyses a file.
  out=$(env -u KESTREL_HOME -u KESTREL_LIB_DIR HOME="$home" XDG_DATA_HOME="$home/data" \
        "$cli" info "$fixtures/mpeg_vcd.mpg") || fail "info from $bin: $out"
  echo "$out" | grep -q 'MPEG1/2 PS' || fail "info from $bin did not name the type: $out"
  env -u KESTREL_HOME HOME="$home" XDG_DATA_HOME="$home/data" \
      "$cli" settings path | grep -q "^$home/data/kestrel/" ||
    fail "installed copy does not keep its settings in XDG_DATA_HOME"
  [ ! -e "$bin/tavolin.ini" ] || fail "installed copy wrote beside its executable"
  if [ -d "$apps" ] && command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$apps"/*.desktop || fail "desktop entry"
  fi
  if [ -d "$root/share/metainfo" ] && command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root"/share/metainfo/*.xml >/dev/null || fail "metainfo"
  fi
  [ -f "$root/share/icons/hicolor/48x48/apps/kestrel.png" ] || fail "icons"
  [ -f "$root/share/man/man1/kestrel-cli.1.gz" ] || fail "manual page"
  # Only what runs is installed: no library twice, no test copy.
  [ -z "$(find "$root" -path '*incomplete*')" ] || fail "a test copy of a library is installed"
  check_conversions "$3"
}

DESTDIR="$scratch/dest" cmake --install "$build" --prefix /usr/local >"$scratch/install.log"
sort "$scratch/install.log" | uniq -d | grep . && fail "files installed twice"
check_copy "$scratch/dest/usr/local" "$scratch/dest/usr/local/bin" installed
echo "cmake --install: ok"
check_missing_libraries "$scratch/dest/usr/local"
echo "missing libraries: ok"

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$scratch/pkg" >/dev/null) || fail "cpack"
  deb=$(ls "$scratch"/pkg/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  # Bound at run time, so named by hand; the rest found by the library scan.
  for p in libavcodec libavformat libswresample libsdl2 libmp3lame0 libsoxr0; do
    echo "$depends" | grep -q "$p" || fail "the package does not depend on $p: $depends"
  done
  dpkg -x "$deb" "$scratch/root"
  for f in "$scratch"/root/usr/bin/* $(find "$scratch/root" -name '*.so'); do
    file "$f" | grep -q 'not stripped' && fail "$f is not stripped"
  done
  [ -f "$scratch/root/usr/share/doc/kestrel/copyright" ] || fail "no copyright file"
  check_copy "$scratch/root/usr" "$scratch/root/usr/bin" package
  if command -v lintian >/dev/null; then
    lintian "$deb" >"$scratch/lintian.log" 2>&1 || true
    if grep -q '^E:' "$scratch/lintian.log"; then
      cat "$scratch/lintian.log" >&2
      fail "lintian finds errors"
    fi
  fi
  echo ".deb: ok ($(basename "$deb"))"
fi
