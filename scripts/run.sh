#!/usr/bin/env bash
# Sets up the machine, builds Velotrax and starts it. With a display it opens
# the desktop program; without one (or with --demo) it runs the demo: two
# stations on a virtual null-modem cable copying sample files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ "${1:-}" != "--demo" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/velotrax
fi
exec scripts/demo.sh
