#!/usr/bin/env bash
# Takes the documentation pictures in docs/screenshots/ from the real program,
# run under Xvfb in a program folder of its own (qrn.ini, a receive folder and
# a pseudo-terminal linked as COM1, so that "Listen" really opens a port).
#
#   scripts/screenshots.sh            # uses build/ (scripts/build.sh)
#   BUILD=build-gui scripts/screenshots.sh
#
# The program is started once per picture with VELOTRAX_SCREENSHOT=look:file;
# it shows that look or dialog, saves a grab of it and ends without saving.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
program="$build/bin/velotrax"
out="$root/docs/screenshots"
[ -x "$program" ] || { echo "screenshots: $program not found; build it first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run missing (scripts/setup.sh installs it)" >&2; exit 1; }

# A fixed, short folder name, since it shows in the pictures.
work=/var/tmp/velotrax-demo
rm -rf "$work"
mkdir -p "$work"
line_pid=""
cleanup() {
  if [ -n "$line_pid" ]; then kill "$line_pid" 2>/dev/null || true; wait "$line_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The program looks for qrn.ini and COM1 beside itself, so it runs from a copy.
cp "$program" "$work/velotrax"
cp "$build/bin/Velotrax.html" "$work/" 2>/dev/null || true
mkdir -p "$work/received"
printf '%s\r\n' "COM: 1" "SPEED: 115200" "RECEIVEPATH: $work/received" "SENDPATH: $work" \
  "I_AM: 1" "DBGFLAG: 0" "DBGLEVEL: 0" "DEBUGFILE: /tmp/qrn_debug.log" "WAITBEFORESEND: 2" > "$work/qrn.ini"

# Something must hold the other end of the line while the window listens.
if [ -x "$build/bin/vnullmodem" ]; then
  "$build/bin/vnullmodem" --link-a "$work/COM1" --link-b "$work/COM1-far" > "$work/line.log" &
  line_pid=$!
else
  python3 -c '
import os, pty, signal, sys
master, slave = pty.openpty()
os.symlink(os.ttyname(slave), sys.argv[1])
signal.pause()' "$work/COM1" &
  line_pid=$!
fi
for _ in $(seq 100); do [ -e "$work/COM1" ] && break; sleep 0.1; done
[ -e "$work/COM1" ] || { echo "screenshots: the pseudo-terminal did not appear" >&2; exit 1; }

mkdir -p "$out"
shot() {  # look file
  local look=$1 file="$out/$2"
  rm -f "$file"
  VELOTRAX_SCREENSHOT="$look:$file" timeout 60 \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$work/velotrax" 2>"$work/run.log" \
    || { cat "$work/run.log" >&2; echo "screenshots: $look failed" >&2; exit 1; }
  [ -s "$file" ] || { echo "screenshots: no picture for $look" >&2; exit 1; }
  echo "docs/screenshots/$2"
}
shot idle-receiver main-receiver-idle.png
shot idle-sender   main-sender-idle.png
shot active        main-receiver-listening.png
shot settings      dialog-comport-settings.png
shot general       dialog-general-settings.png
shot path          dialog-receive-path.png
shot about         dialog-about.png
