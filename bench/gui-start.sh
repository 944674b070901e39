#!/bin/sh
# Start-up of the window: the time from the program's start to its first
# paint (as the program reports it with KESTREL_REPORT_START) and the
# resident memory while it idles, under a virtual display (Xvfb), over RUNS
# starts. Not a test: it measures; run it on a quiet machine.
# Usage: bench/gui-start.sh [BUILDDIR] [RUNS]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-5}
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
cmake --build "$BUILD" --target kestrel mxscan orvosoundmix >/dev/null
cat > "$HOME_DIR/run.sh" <<INNER
#!/bin/sh
i=0
while [ \$i -lt $RUNS ]; do
  i=\$((i + 1))
  KESTREL_HOME="$HOME_DIR" KESTREL_REPORT_START=1 SDL_AUDIODRIVER=dummy \
    "$BUILD/bin/kestrel" 2>"$HOME_DIR/err" &
  pid=\$!
  sleep 3
  rss=\$(awk '/VmRSS/ {print \$2}' /proc/\$pid/status)
  kill \$pid
  wait \$pid 2>/dev/null || true
  paint=\$(sed -n 's/^first paint after \([0-9]*\) ms$/\1/p' "$HOME_DIR/err")
  echo "run \$i: first paint \${paint} ms, idle resident \$((rss / 1024)) MB"
done
INNER
xvfb-run -a -s "-screen 0 1280x900x24" sh "$HOME_DIR/run.sh"
