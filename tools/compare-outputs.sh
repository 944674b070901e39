#!/bin/bash
# Converts a fixed set of test media to WAV and to MP3 (128 kbit/s, silent
# mode) with the kestrel-cli of two revisions and compares the outputs byte for
# byte. Prints one line per input and output type and exits non-zero when any
# output differs or is missing.
#
#   tools/compare-outputs.sh OLD_REV [NEW_REV]
#
# NEW_REV defaults to HEAD. Each revision is checked out into a temporary git
# worktree and built there (Release, without tests and GUI). Environment:
#   KESTREL_COMPARE_DIR  keep the builds here and reuse them on the next run
#                        (one folder per commit); default: a temporary folder
#                        removed at the end
#   KESTREL_FIXTURES     folder of the test media; default: made by
#                        tests/fixtures/make.sh into the work folder
#   JOBS                 parallel build jobs (default 2)
set -euo pipefail

old_rev="${1:?usage: tools/compare-outputs.sh OLD_REV [NEW_REV]}"
new_rev="${2:-HEAD}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-2}"

old_commit="$(git -C "$repo" rev-parse --verify "$old_rev^{commit}")"
new_commit="$(git -C "$repo" rev-parse --verify "$new_rev^{commit}")"

if [ -n "${KESTREL_COMPARE_DIR:-}" ]; then
  work="$KESTREL_COMPARE_DIR"
  mkdir -p "$work"
  keep=1
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/kestrel-compare.XXXXXX")"
  keep=0
fi
work="$(cd "$work" && pwd)"

cleanup() {
  if [ -d "$work/src" ]; then
    git -C "$repo" worktree remove --force "$work/src" >/dev/null 2>&1 || true
  fi
  if [ "$keep" = 0 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

# Builds kestrel-cli and the run-time libraries of one commit into
# $work/build-<commit>; a finished build is reused. The sources are checked out
# one commit at a time into the same folder, so that a compiler cache finds the
# files the two commits share.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$work"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
build_rev() {
  local c="$1" src="$work/src" bld="$work/build-$1"
  if [ -f "$bld/.done" ]; then return 0; fi
  echo "building $c ..." >&2
  if [ -d "$src" ]; then git -C "$repo" worktree remove --force "$src" 2>/dev/null || rm -rf "$src"; fi
  git -C "$repo" worktree prune
  git -C "$repo" worktree add --detach "$src" "$c" >/dev/null
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
    -DKESTREL_TESTS=OFF -DKESTREL_GUI=OFF >"$work/configure-$c.log" 2>&1 ||
    { cat "$work/configure-$c.log" >&2; exit 3; }
  cmake --build "$bld" -j "$jobs" >"$work/build-$c.log" 2>&1 ||
    { tail -n 40 "$work/build-$c.log" >&2; exit 3; }
  git -C "$repo" worktree remove --force "$src"
  touch "$bld/.done"
}

build_rev "$old_commit"
build_rev "$new_commit"

fixtures="${KESTREL_FIXTURES:-$work/fixtures}"
sh "$repo/tests/fixtures/make.sh" "$fixtures" >"$work/fixtures.log" 2>&1 ||
  { tail -n 40 "$work/fixtures.log" >&2; exit 3; }

# The fixed inputs: MPEG-1 program stream, VOB with AC-3, transport stream,
# MPEG-1/2/2.5 Layer III, Layer II, free format, Layer I.
inputs=(
  mpeg_vcd.mpg
  mpeg_ac3_44k.vob
  mpeg_ts_mp2.ts
  mpeg_l3_cbr_44k.mp3
  mpeg_l3_mpeg2_22k.mp3
  mpeg_l3_mpeg25_11k.mp3
  mpeg_l2_48k.mp2
  mpa_free_200k.mp3
  mpa_l1_48k.mp1
)

# Converts one input with one commit's program into a folder of its own and
# prints the path of the single output (empty when there is none).
convert_one() {
  local c="$1" type="$2" input="$3" out="$4"
  local home="$out/home"
  mkdir -p "$out/files" "$home"
  local args=(convert -t "$type" --mode silent -o "$out/files")
  if [ "$type" = mp3 ]; then args+=(-b 128); fi
  "$work/build-$c/bin/kestrel-cli" --home "$home" "${args[@]}" "$fixtures/$input" \
    >"$out/stdout" 2>"$out/stderr" </dev/null || true
  find "$out/files" -type f | head -n 1
}

status=0
printf '%-26s %-4s %-10s %12s %12s\n' INPUT TYPE RESULT OLD-BYTES NEW-BYTES
for input in "${inputs[@]}"; do
  if [ ! -f "$fixtures/$input" ]; then
    printf '%-26s %-4s %-10s\n' "$input" - missing-input
    status=1
    continue
  fi
  for type in wav mp3; do
    o="$work/out/$input.$type"
    rm -rf "$o"
    a="$(convert_one "$old_commit" "$type" "$input" "$o/old")"
    b="$(convert_one "$new_commit" "$type" "$input" "$o/new")"
    sa=-
    sb=-
    [ -n "$a" ] && sa="$(stat -c %s "$a")"
    [ -n "$b" ] && sb="$(stat -c %s "$b")"
    if [ -z "$a" ] || [ -z "$b" ]; then
      result=no-output
      status=1
    elif cmp -s "$a" "$b"; then
      result=identical
    else
      result=DIFFERENT
      status=1
    fi
    printf '%-26s %-4s %-10s %12s %12s\n' "$input" "$type" "$result" "$sa" "$sb"
  done
done
if [ "$status" = 0 ]; then
  echo "all outputs identical (${old_commit:0:10} -> ${new_commit:0:10})"
else
  echo "outputs differ or are missing (${old_commit:0:10} -> ${new_commit:0:10})"
fi
exit "$status"
